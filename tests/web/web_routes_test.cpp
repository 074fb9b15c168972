// The paths of a web face that serves one generator or several, and the
// resource strings of several.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/lxi.hpp"
#include "web/routes.hpp"

namespace talmir880::web {
namespace {

using Kind = Route::Kind;

TEST(Routes, OneGeneratorKeepsItsPathsAndAnswersAsInst0) {
  struct Case {
    std::string_view path;
    Route expected;
  };
  for (const Case& c : std::vector<Case>{
           {"/", {Kind::panel, 0}},
           {"/ws", {Kind::live, 0}},
           {"/lxi/identification", {Kind::identification, 0}},
           {"/inst0/", {Kind::panel, 0}},
           {"/inst0/ws", {Kind::live, 0}},
           {"/inst0/lxi/identification", {Kind::identification, 0}},
           {"/inst0", {Kind::moved, 0}},
           {"/inst1/", {}},
           {"/page.js", {Kind::asset, {}}},
           {"/login", {Kind::login, {}}},
       }) {
    EXPECT_EQ(route(c.path, 1), c.expected) << c.path;
  }
}

TEST(Routes, SeveralGeneratorsEachUnderItsOwnPrefix) {
  struct Case {
    std::string_view path;
    Route expected;
  };
  for (const Case& c : std::vector<Case>{
           {"/", {Kind::list, {}}},
           {"/ws", {}},  // no one generator's
           {"/lxi/identification", {Kind::identification, {}}},
           {"/inst0/", {Kind::panel, 0}},
           {"/inst1/", {Kind::panel, 1}},
           {"/inst1/ws", {Kind::live, 1}},
           {"/inst1/lxi/identification", {Kind::identification, 1}},
           {"/inst1", {Kind::moved, 1}},
           {"/inst2/", {}},
           {"/inst01/", {}},
           {"/inst-1/", {}},
           {"/inst+1/", {}},
           {"/inst/", {}},
           {"/inst1x/", {}},
           {"/inst99999999999999999999/", {}},
           {"/INST1/", {Kind::panel, 1}},  // as VXI-11 takes inst1
           {"/Inst1/ws", {Kind::live, 1}},
           {"/iNsT0/lxi/identification", {Kind::identification, 0}},
           {"/INST1", {Kind::moved, 1}},
           {"/INST01/", {}},
           {"/JNST1/", {}},
           {"/inst1/page.css", {}},
           {"/inst1/ws/", {}},
           {"/inst1//", {}},
           {"/x/inst1/", {}},
           {"/page.css", {Kind::asset, {}}},
           {"/list.js", {Kind::asset, {}}},
           {"/logout", {Kind::logout, {}}},
           {"/index.html", {}},
           {"", {}},
       }) {
    EXPECT_EQ(route(c.path, 2), c.expected) << c.path;
  }
  EXPECT_EQ(route("/inst11/ws", 12), (Route{Kind::live, 11}));
  EXPECT_EQ(generator_path(11), "/inst11/");
}

TEST(Lxi, InstrNamesTheDeviceOnlyAmongSeveral) {
  EXPECT_EQ(instr_resource("192.168.1.5"), "TCPIP::192.168.1.5::INSTR");
  EXPECT_EQ(instr_resource("192.168.1.5", "inst1"), "TCPIP::192.168.1.5::inst1::INSTR");
  EXPECT_EQ(instr_resource("fd00::5", "inst0"), "TCPIP::[fd00::5]::inst0::INSTR");
}

}  // namespace
}  // namespace talmir880::web
