#include "app/app.h"

int main(int argc, char** argv) {
    CKTUtilityApp app(argc, argv);
    return app.Run();
}
