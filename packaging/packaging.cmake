# The Debian package: what goes where when installed, and CPack's DEB
# generator settings.

# The version the programs report is the project's.
target_compile_definitions(tessaly PRIVATE TESSALY_VERSION="${PROJECT_VERSION}")
