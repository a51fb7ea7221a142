// The metrics: readings taken from the rows a run writes, the exposition, and an endpoint whose
// scrapes never reach the instrument.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "TestSupport.h"
#include "engine/SimEngine.h"
#include "serve/Metrics.h"
#include "serve/MetricsExporter.h"

using namespace tavrix;

namespace {

std::string HttpGet(int port, const std::string& path) {
    const int fd = tavrix::test::ConnectLoopback(port);
    if (fd < 0) return "";
    const std::string req = "GET " + path + " HTTP/1.0\r\nHost: x\r\n\r\n";
    ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    std::string out;
    char b[4096];
    for (ssize_t n; (n = ::recv(fd, b, sizeof b, 0)) > 0;) out.append(b, static_cast<size_t>(n));
    ::close(fd);
    return out;
}

const char* kHeader =
    "INP A name:Sample \"cold\" stage,unit:K\r\n"
    "INP B name:Shield,unit:S\r\n"
    "LOOP 1 name:Heater 1\r\n"
    "Sampling interval:     1.0 seconds\r\n";

TEST(Metrics, RowsBecomeReadingsWithTheHeadersNamesAndUnits) {
    MetricsRegistry m;
    LogRowReadings r(0x0001 | 0x0002 | 0x0100 | 0x1000, kHeader);
    EXPECT_TRUE(r.Apply("12:0:1,77.123,OVER,45.00,2,60.000\r\n", 1700000000.5, m));
    // A row whose fields do not fit the columns is no reading.
    EXPECT_FALSE(r.Apply("12:0:2,1,2\r\n", 1700000001, m));
    const std::string text = m.Render();
    EXPECT_NE(text.find("tavrix_reading{source=\"A\",name=\"Sample \\\"cold\\\" stage\",unit=\"K\"} "
                        "77.123000000000005"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("source=\"B\""), std::string::npos);  // "OVER" is no number
    EXPECT_NE(text.find("tavrix_reading{source=\"heater1\",name=\"Heater 1\",unit=\"%\"} 45"),
              std::string::npos);
    EXPECT_NE(text.find("source=\"setpoint1\""), std::string::npos);
    EXPECT_NE(text.find("tavrix_reading_timestamp_seconds{source=\"A\"} 1700000000.5"),
              std::string::npos);
    EXPECT_NE(text.find("# TYPE tavrix_log_rows_total counter"), std::string::npos);
}

TEST(Metrics, TheEndpointServesWithoutReachingTheInstrument) {
    test::SimLinkBench b;
    b.link.StartUp();
    MetricsRegistry m(&b.link);
    m.SetIdentity(28, "123456", "1.2");
    MetricsExporter e(m);
    std::string error;
    ASSERT_TRUE(e.Start(0x7F000001u, 0, error)) << error;
    ASSERT_GT(e.Port(), 0);
    const size_t before = b.engine.ReceivedLines().size();
    for (int i = 0; i < 20; ++i) {
        const std::string reply = HttpGet(e.Port(), "/metrics");
        ASSERT_NE(reply.find("200 OK"), std::string::npos) << reply;
        ASSERT_NE(reply.find("tavrix_instrument_info{model_code=\"28\",serial=\"123456\","
                             "firmware=\"1.2\"} 1"),
                  std::string::npos);
    }
    EXPECT_EQ(b.engine.ReceivedLines().size(), before);
    EXPECT_EQ(m.Scrapes(), 20u);
    EXPECT_NE(HttpGet(e.Port(), "/").find("404"), std::string::npos);
    // A port in use is a clear failure.
    MetricsExporter second(m);
    EXPECT_FALSE(second.Start(0x7F000001u, e.Port(), error));
    EXPECT_NE(error.find(std::to_string(e.Port())), std::string::npos);
}

}  // namespace
