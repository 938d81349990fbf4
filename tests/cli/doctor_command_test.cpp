// tessaly-cli doctor end to end on loopback: what it prints, the exit code,
// and that the printer is only asked, never told.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/cli.h"
#include "support/sim_tcp_printer.h"
#include "support/time_scale.h"

namespace {

TEST(CliDoctor, NamesEachPrinterCauseAndExitsByWhetherOneAnswered) {
    SimTcpPrinter simulator;
    ASSERT_TRUE(simulator.startError.empty()) << simulator.startError;
    const std::string live = "127.0.0.1:" + std::to_string(simulator.server.Port());
    uint16_t closedPort = 0;
    net::Socket gone = LoopbackListening(closedPort);
    net::CloseSocket(gone);
    const std::string closed = "127.0.0.1:" + std::to_string(closedPort);

    std::ostringstream out, err;
    EXPECT_EQ(RunCli({"--ethernet", live, "--ethernet", closed, "doctor"}, out, err), 0);
    // Each printer under its heading; what to do under the failure.
    EXPECT_NE(out.str().find("Ethernet " + live + "\n  ok    address          127.0.0.1, port"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("  ok    printer-answers  VRS "), std::string::npos);
    EXPECT_NE(out.str().find("\n\nEthernet " + closed + "\n"), std::string::npos);
    EXPECT_NE(out.str().find("  FAIL  tcp-connect      " + closed +
                             " refused the connection\n        what to do: A device"),
              std::string::npos);
    out.str({});
    ASSERT_EQ(RunCli({"--ethernet", closed, "--json", "doctor"}, out, err), 3);
    const nlohmann::json checks = nlohmann::json::parse(out.str())["data"]["printers"][0]["checks"];
    ASSERT_EQ(checks.size(), 4u);
    EXPECT_EQ(checks[2]["check"], "tcp-connect");
    EXPECT_EQ(checks[2]["status"], "fail");
    EXPECT_EQ(checks[2]["found"], closed + " refused the connection");
    EXPECT_TRUE(checks[2]["fix"].is_string());
    EXPECT_EQ(checks[0]["fix"], nullptr);

    EXPECT_EQ(RunCli({"--simulated-printer", "doctor"}, out, err), 2);
}

}  // namespace
