// What the transports rely on without a socket: lines cut from a stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scpi/line_splitter.hpp"

namespace talmir880::scpi {
namespace {

struct Cut {
  std::vector<std::string> lines;
  int overruns = 0;
};

Cut cut(const std::vector<std::string>& chunks) {
  Cut out;
  LineSplitter splitter;
  for (const std::string& chunk : chunks) {
    splitter.feed(
        chunk, [&out](std::string line) { out.lines.push_back(std::move(line)); },
        [&out] { out.lines.push_back("<overrun>"), ++out.overruns; });
  }
  return out;
}

TEST(LineSplitter, LinesEndAtLfAndACrBeforeItGoes) {
  EXPECT_EQ(cut({"*IDN?\nFREQ?\r\n"}).lines, (std::vector<std::string>{"*IDN?", "FREQ?"}));
  EXPECT_EQ(cut({"FR", "EQ", "?\r", "\n"}).lines, std::vector<std::string>{"FREQ?"});
  EXPECT_EQ(cut({"\n\n"}).lines, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(cut({"no end"}).lines, std::vector<std::string>{});
  EXPECT_EQ(cut({"a\rb\n"}).lines, std::vector<std::string>{"a\rb"});
}

TEST(LineSplitter, ALineTooLongIsDroppedWholeAndTheNextOneCounts) {
  const std::string big(LineSplitter::kMaxLine, 'x');
  EXPECT_EQ(cut({big + "\n"}).lines, std::vector<std::string>{big}) << "the limit itself is kept";
  const Cut over = cut({big, "yy", std::string(100000, 'z'), "\n*OPC?\n"});
  EXPECT_EQ(over.lines, (std::vector<std::string>{"<overrun>", "*OPC?"}));
  EXPECT_EQ(over.overruns, 1);
}

TEST(LineSplitter, OneLineAtATimeLeavesTheRest) {
  LineSplitter splitter;
  std::vector<std::string> lines;
  const std::string bytes = "A\nB\nC";
  const std::size_t took = splitter.feed_one(
      bytes, [&lines](std::string line) { lines.push_back(std::move(line)); }, [] {});
  EXPECT_EQ(took, 2u);
  EXPECT_EQ(lines, std::vector<std::string>{"A"});
}

}  // namespace
}  // namespace talmir880::scpi
