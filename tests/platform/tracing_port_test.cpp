// The tracing port: the dialogue as a reader of --trace sees it, and nothing
// that passes through changed.
#include "platform/tracing_port.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "testing/scripted_port.h"

namespace tarvex {
namespace {

TEST(TracingPortTest, WritesTheDialogueWithControlBytesVisible) {
  auto modem = std::make_unique<testing::ScriptedPort>();
  testing::ScriptedPort& script = *modem;
  script.Expect("AT+CMGS=13\r").Reply("\r\n> ");
  script.Expect("0011\x1A").Reply("\r\n+CMS ERROR: 38\x07\x7F\r\n");
  std::ostringstream out;
  TracingPort port(std::move(modem), out);
  port.SetCommPort(3);
  port.SetPortOpen(true);
  port.Output("AT+CMGS=13\r");
  EXPECT_EQ(port.Input(), "\r\n> ");
  port.Output("0011\x1A");
  EXPECT_EQ(port.Input(), "\r\n+CMS ERROR: 38\x07\x7F\r\n");
  EXPECT_EQ(port.Input(), "");  // nothing read, nothing written
  EXPECT_EQ(out.str(),
            "-- opened port 3\n"
            ">> AT+CMGS=13\\r\n"
            "<< \\r\\n> \n"
            ">> 0011<Ctrl-Z>\n"
            "<< \\r\\n+CMS ERROR: 38\\x07\\x7F\\r\\n\n");
  EXPECT_TRUE(script.MissingWrites().empty());
}

}  // namespace
}  // namespace tarvex
