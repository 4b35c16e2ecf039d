// Unit tests of the command line's own pieces: exit codes, JSON, the terminal status view, the
// firmware report and the session clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/advice.h"
#include "cli/command_table.h"
#include "cli/exit_codes.h"
#include "cli/firmware_report.h"
#include "cli/flash_session.h"
#include "cli/interrupt.h"
#include "cli/record_command.h"
#include "cli/session_clock.h"
#include "cli/terminal_status_view.h"
#include "cli/update_command.h"
#include "cli/update_set.h"
#include "core/json.h"
#include "fakes/fake_status_view.h"

namespace loadwing::cli {
namespace {

TEST(ExitCodes, EachOutcomeHasItsDocumentedCode) {
  EXPECT_EQ(ExitCodeFor(FlashOutcome::Completed), 0);
  EXPECT_EQ(ExitCodeFor(FlashOutcome::NotStarted), 2);
  EXPECT_EQ(ExitCodeFor(FlashOutcome::NoAnswer), 4);
  EXPECT_EQ(ExitCodeFor(FlashOutcome::UnexpectedAnswer), 5);
  EXPECT_EQ(ExitCodeFor(FlashOutcome::EraseError), 6);
  EXPECT_EQ(ExitCodeFor(FlashOutcome::NoAnswerWhileFlashing), 7);
  EXPECT_EQ(ExitCodeFor(FlashOutcome::ErrorWhileFlashing), 7);
  EXPECT_EQ(ExitCodeFor(FlashOutcome::CrcError), 8);
  EXPECT_EQ(ExitCodeFor(FlashOutcome::NoSuccess), 9);
  EXPECT_EQ(ExitCodeFor(FlashOutcome::NoAnswerAfterFlashing), 9);
  EXPECT_EQ(ExitCodeFor(FlashOutcome::WriteError), 10);
  EXPECT_EQ(ExitCodeFor(FlashOutcome::Cancelled), 130);
  for (const LinkError error :
       {LinkError::InvalidHandle, LinkError::CommState, LinkError::SetTimeout, LinkError::SetupComm,
        LinkError::UsbConnect, LinkError::NoSuchPort, LinkError::SimulatorUnavailable}) {
    EXPECT_EQ(ExitCodeFor(error), 3) << LinkErrorText(error);
  }
  EXPECT_EQ(ExitCodeFor(LinkError::None), 0);
}

// A port that does not exist and one that exists but does not open are told apart.
TEST(MachineLinkOpen, AMissingPortIsNoSuchPortAndAFileThatIsNoPortIsNot) {
  const struct {
    const char* port;
    LinkError error;
  } cases[] = {
      {"loadwing-no-such-port", LinkError::NoSuchPort},
      {"/dev/loadwing-no-such-port", LinkError::NoSuchPort},
      {LOADWING_SOURCE_DIR "/README.md", LinkError::CommState},  // opens, but is no tty
  };
  for (const auto& c : cases) {
    testing::FakeStatusView view;
    MachineLink link;
    std::vector<std::string> why;
    LinkOptions options;
    options.port = c.port;
    EXPECT_EQ(link.Open(options, view, why), c.error) << c.port;
    EXPECT_FALSE(why.empty()) << c.port;
  }
}

TEST(ExitCodes, OutcomeNamesAreDistinct) {
  std::set<std::string> names;
  for (int i = static_cast<int>(FlashOutcome::NotStarted);
       i <= static_cast<int>(FlashOutcome::Cancelled); ++i) {
    names.insert(FlashOutcomeName(static_cast<FlashOutcome>(i)));
  }
  EXPECT_EQ(names.size(), 12u);
  EXPECT_EQ(names.count("unknown"), 0u);
}

TEST(Json, EscapesWhatJsonRequires) {
  EXPECT_EQ(JsonString(" flash: completed"), "\" flash: completed\"");
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString("x\ny\tz"), "\"x\\ny\\tz\"");
  // Valid UTF-8 as it is, a byte that is none as U+FFFD.
  EXPECT_EQ(JsonString("M\xC3\xA4rz.mot"), "\"M\xC3\xA4rz.mot\"");
  EXPECT_EQ(JsonString(std::string("\x01\x0A\xFF\xC3", 4)),
            "\"\\u0001\\n\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

TEST(Json, ObjectKeepsOrderAndTypes) {
  const std::string text = JsonObject()
                               .Add("event", "progress")
                               .Add("pos", 3)
                               .Add("ok", true)
                               .AddRaw("list", "[1,2]")
                               .str();
  EXPECT_EQ(text, "{\"event\":\"progress\",\"pos\":3,\"ok\":true,\"list\":[1,2]}");
  EXPECT_EQ(JsonObject().str(), "{}");
}

// Spreadsheets read what the record holds as it is: RFC 4180 quoting, and no formula run from a
// file's name.
TEST(RecordCsv, QuotesFieldsAndDisarmsFormulas) {
  const struct {
    const char* file;
    const char* field;
  } cases[] = {
      {"plain.mot", ",plain.mot,"},
      {"a,b.mot", ",\"a,b.mot\","},
      {"say \"hi\".mot", ",\"say \"\"hi\"\".mot\","},
      {"two\nlines", ",\"two\nlines\","},
      {"=HYPERLINK(\"x\")", ",\"'=HYPERLINK(\"\"x\"\")\","},
      {"-1+2", ",'-1+2,"},
  };
  for (const auto& c : cases) {
    FlashRecordEntry entry;
    entry.file = c.file;
    const std::string csv = RecordCsv({entry});
    const std::string row = csv.substr(csv.find("\r\n") + 2);
    EXPECT_NE(row.find(c.field), std::string::npos) << row;
    EXPECT_EQ(row.substr(row.size() - 2), "\r\n");
  }
}

struct ViewFixture {
  std::ostringstream out;
  std::ostringstream err;
  std::int64_t millis = 1000;
  TerminalStatusView Make(TerminalStatusView::Mode mode) {
    return TerminalStatusView(out, err, mode, [this] { return millis; });
  }
};

TEST(TerminalStatusView, ShowsEachTextOnceWhileItRepeats) {
  ViewFixture f;
  auto view = f.Make(TerminalStatusView::Mode::Lines);
  view.SetStatusText(" flash: query system...");
  view.RefreshFields();
  view.RefreshFields();
  view.SetStatusText(" flash: no answer");  // set, not shown: nothing yet
  EXPECT_EQ(f.err.str(), " flash: query system...\n");
  view.RefreshFields();
  view.SetStatus("Write COM: write error");
  view.SetStatus("Write COM: write error");
  EXPECT_EQ(f.err.str(), " flash: query system...\n flash: no answer\n Write COM: write error\n");
  EXPECT_EQ(view.LastShown(), " Write COM: write error");
  EXPECT_EQ(f.out.str(), "");
}

TEST(TerminalStatusView, ControlBytesOfAnAnswerDoNotReachTheTerminal) {
  ViewFixture f;
  auto view = f.Make(TerminalStatusView::Mode::Lines);
  view.SetStatusText(" flash: unexpected answer \x1b[2J\r\xff");
  view.RefreshFields();
  EXPECT_EQ(f.err.str(), " flash: unexpected answer \\x1B[2J\\x0D\\xFF\n");
  EXPECT_EQ(TerminalText("MO3OK1"), "MO3OK1");
}

TEST(TerminalText, ShowsValidUtf8AndEscapesControlsAndBrokenBytes) {
  const struct {
    std::string in, shown;
  } cases[] = {
      {"Пример/März.mot", "Пример/März.mot"},
      {"set\x1b[31m.toml", "set\\x1B[31m.toml"},
      {"a\x7f\tb", "a\\x7F\\x09b"},
      {"csi\xc2\x9b"
       "2J",
       "csi\\xC2\\x9B2J"},                           // C1 control, as UTF-8
      {"latin1 M\xe4rz", "latin1 M\\xE4rz"},         // not UTF-8
      {"overlong \xc0\xaf", "overlong \\xC0\\xAF"},  // '/' spelt in two bytes
      {"surrogate \xed\xa0\x80", "surrogate \\xED\\xA0\\x80"},
      {"cut \xe2\x82", "cut \\xE2\\x82"},
      {"\xf0\x9f\x94\xa7 ok", "\xf0\x9f\x94\xa7 ok"},
      {std::string("nul\0x", 5), "nul\\x00x"},
  };
  for (const auto& c : cases) EXPECT_EQ(TerminalText(c.in), c.shown) << c.in;
}

TEST(TerminalStatusView, LinesModeReportsQuartersOfTheRange) {
  ViewFixture f;
  auto view = f.Make(TerminalStatusView::Mode::Lines);
  view.SetProgressRange(128);
  for (int pos = 0; pos < 128; ++pos) view.SetProgressPos(pos);
  view.SetProgressPos(0);
  EXPECT_EQ(f.err.str(), "  progress 32/128\n  progress 64/128\n  progress 96/128\n");
}

// Following a transfer, as it moves the bar to k after block k: the blocks written are shown,
// up to all of them, and each wait says what it waits for.
TEST(TerminalStatusView, FollowingATransferCountsBlocksWrittenAndLabelsTheWaits) {
  ViewFixture f;
  auto view = f.Make(TerminalStatusView::Mode::Lines);
  FlashPosition position;
  position.blockCount = 128;
  view.Follow(&position);
  view.SetProgressRange(20);
  view.SetProgressPos(5);
  position.stage = FlashStage::Blocks;
  view.SetProgressRange(128);
  for (std::int32_t block = 0; block < 128; ++block) {
    position.blocksAcknowledged = static_cast<std::uint32_t>(block) + 1;
    view.SetProgressPos(block);
  }
  position.stage = FlashStage::Verdict;
  view.SetProgressRange(40);
  view.SetProgressPos(30);
  EXPECT_EQ(f.err.str(),
            "  progress 5/20 s waiting for the machine to say ready\n"
            "  progress 32/128 blocks\n  progress 64/128 blocks\n  progress 96/128 blocks\n"
            "  progress 128/128 blocks\n"
            "  progress 30/40 s waiting for the verdict\n");
}

TEST(TerminalStatusView, ProgressRangeKeepsOnlyLow16Bits) {
  ViewFixture f;
  auto view = f.Make(TerminalStatusView::Mode::Lines);
  view.SetProgressRange(0x10004);  // 4
  view.SetProgressPos(2);
  EXPECT_EQ(f.err.str(), "  progress 2/4\n");
}

TEST(TerminalStatusView, BarIsClearedForStatusLinesAndRedrawn) {
  ViewFixture f;
  auto view = f.Make(TerminalStatusView::Mode::Bar);
  view.SetProgressRange(4);
  view.SetProgressPos(2);
  EXPECT_TRUE(view.BarVisible());
  const std::string bar = f.err.str();
  EXPECT_NE(bar.find("2/4"), std::string::npos);
  EXPECT_EQ(bar.find('\n'), std::string::npos);
  view.SetStatus("flash: start...");
  const std::string after = f.err.str().substr(bar.size());
  // Cleared, the line, then the bar again.
  EXPECT_EQ(after.rfind("\r\x1b[K flash: start...\n", 0), 0u) << after;
  EXPECT_NE(after.find("2/4"), std::string::npos);
  view.SetProgressPos(0);
  EXPECT_FALSE(view.BarVisible());
  // A new range takes the bar away; the next position draws it against the new range.
  view.SetProgressPos(3);
  view.SetProgressRange(40);
  EXPECT_FALSE(view.BarVisible());
  view.SetProgressPos(1);
  EXPECT_TRUE(view.BarVisible());
  EXPECT_NE(f.err.str().rfind("1/40"), std::string::npos);
  EXPECT_EQ(f.err.str().find("40/40"), std::string::npos);
  view.Finish();
  EXPECT_FALSE(view.BarVisible());
  EXPECT_EQ(f.out.str(), "");
}

TEST(TerminalStatusView, JsonModeThrottlesProgressButNotItsEnds) {
  ViewFixture f;
  auto view = f.Make(TerminalStatusView::Mode::Json);
  view.SetStatus("flash: start...");
  view.SetProgressRange(10);
  view.SetProgressPos(0);  // first of the range: sent
  view.SetProgressPos(1);  // too soon
  f.millis += 100;
  view.SetProgressPos(2);  // due
  view.SetProgressPos(2);  // same
  view.SetProgressPos(9);  // end of range: sent at once
  view.SetProgressPos(0);  // return to 0: sent
  EXPECT_EQ(f.out.str(),
            "{\"event\":\"status\",\"text\":\" flash: start...\"}\n"
            "{\"event\":\"progress\",\"pos\":0,\"max\":10}\n"
            "{\"event\":\"progress\",\"pos\":2,\"max\":10}\n"
            "{\"event\":\"progress\",\"pos\":9,\"max\":10}\n"
            "{\"event\":\"progress\",\"pos\":0,\"max\":10}\n");
  EXPECT_EQ(f.err.str(), "");
}

// The check byte computed here the long way: the remainder of the bytes, read as one bit string
// MSB first, divided by x^8 + x^7 + x^4 + x^3 + x + 1.
std::uint8_t RemainderOf(const std::uint8_t* data, std::size_t n) {
  unsigned r = 0;
  for (std::size_t i = 0; i < n; ++i) {
    for (int bit = 7; bit >= 0; --bit) {
      r = (r << 1) | ((data[i] >> bit) & 1u);
      if (r & 0x100u) r ^= 0x19Bu;
    }
  }
  return static_cast<std::uint8_t>(r);
}

const std::string kExamples = std::string(LOADWING_SOURCE_DIR) + "/examples/";

TEST(FirmwareReport, Module3ExampleIsDescribedFully) {
  const TransferPlan report = MakeTransferPlan(kExamples + "module3.mot");
  ASSERT_TRUE(report.loaded()) << report.outcome.statusText;
  EXPECT_EQ(report.outcome.statusText, " firmware for module 3 loaded");
  EXPECT_EQ(report.outcome.target, FirmwareTarget::Module3);
  EXPECT_EQ(report.imageSize, 32768u);
  EXPECT_EQ(report.blocks, 128u);
  EXPECT_EQ(PlanCheckByte(report), RemainderOf(report.image->data.data(), 32768));
  EXPECT_FALSE(AddressRecordWarning(report).has_value());
  const std::string text = FormatInfoText(report);
  EXPECT_NE(text.find("Module3 (13"), std::string::npos) << text;
  EXPECT_NE(text.find("MO3OK1"), std::string::npos);
  EXPECT_NE(text.find("\" firmware for module 3 loaded\""), std::string::npos);
}

TEST(FirmwareReport, EachExampleHasItsTarget) {
  const std::pair<const char*, FirmwareTarget> cases[] = {
      {"can_module.mot", FirmwareTarget::CanModule},
      {"webc.mot", FirmwareTarget::WebC},
      {"main_controller.hex", FirmwareTarget::FanfolderCrossfolder},
  };
  for (const auto& [name, target] : cases) {
    const TransferPlan report = MakeTransferPlan(kExamples + name);
    EXPECT_EQ(report.outcome.target, target) << name;
    EXPECT_EQ(TargetName(report.outcome.target), TargetName(target));
  }
  EXPECT_EQ(TargetName(FirmwareTarget::Module7), "Module7");
  EXPECT_EQ(TargetName(FirmwareTarget::None), "None");
}

std::string WriteTemp(const std::string& name, const std::string& text) {
  const std::string path = ::testing::TempDir() + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(FirmwareReport, TellsWhichRecordsWereSkippedAndWhichTakenAsData) {
  // A zero linear base, a data record, a start address, a record of type 06, the end.
  const std::string path =
      WriteTemp("address_records.hex",
                ":020000040000FA\r\n:01001000559A\r\n:0400000500001234B1\r\n:01002006AA2F\r\n"
                ":00000001FF\r\n");
  const TransferPlan report = MakeTransferPlan(path);
  ASSERT_TRUE(report.loaded()) << report.outcome.statusText;
  EXPECT_EQ(report.image->data[0], 0xFF);  // the start address did not land at offset 0
  const auto warning = AddressRecordWarning(report);
  ASSERT_TRUE(warning.has_value());
  EXPECT_NE(warning->find("skipped 2 address record(s)"), std::string::npos) << *warning;
  EXPECT_NE(warning->find("1 record(s) of unknown type"), std::string::npos) << *warning;
  EXPECT_NE(FormatInfoJson(report, {}).find("\"address\":2"), std::string::npos);
}

TEST(FirmwareReport, FailedLoadHasNoTransferFacts) {
  const TransferPlan report = MakeTransferPlan(WriteTemp("no_marker.mot", "S804010000FA\r\n"));
  EXPECT_FALSE(report.loaded());
  EXPECT_EQ(report.outcome.statusText, " load firmware: invalid firmware file");
  const std::string json = FormatInfoJson(report, {});
  EXPECT_NE(json.find("\"loaded\":false"), std::string::npos);
  EXPECT_EQ(json.find("checkByte"), std::string::npos);
}

TEST(SessionClock, ScaledSecondsPassFaster) {
  SessionClock fast(1000.0);
  const std::int64_t start = fast.Now();
  std::int64_t now = start;
  // 1000 times real time: five seconds pass within a few real milliseconds.
  for (int i = 0; i < 2000000 && now - start < 5; ++i) now = fast.Now();
  EXPECT_GE(now - start, 5);
}

TEST(Interrupt, ACopyOfTheFirstSignalWithinTwoSecondsIsTheSameRequest) {
  constexpr int kInt = 2, kTerm = 15;
  struct Case {
    const char* name;
    int secondKind;
    std::int64_t secondAtMs;  // after the first
    InterruptAction second;
  };
  for (const Case& c : {Case{"timeout's second copy", kTerm, 0, InterruptAction::Same},
                        Case{"just within", kTerm, 1999, InterruptAction::Same},
                        Case{"two seconds on", kTerm, 2000, InterruptAction::ExitNow},
                        Case{"another signal at once", kInt, 1, InterruptAction::ExitNow}}) {
    SCOPED_TRACE(c.name);
    ResetInterruptForTesting();
    EXPECT_EQ(NoteInterruptRequest(kTerm, 50'000), InterruptAction::Stop);
    EXPECT_TRUE(InterruptToken().Cancelled());
    EXPECT_EQ(NoteInterruptRequest(c.secondKind, 50'000 + c.secondAtMs), c.second);
  }
  ResetInterruptForTesting();
}

// Bytes no TOML text may hold, which toml++ 3.3 mishandles, are caught before it sees them.
TEST(UpdateSetText, InvalidUtf8AndControlCharactersAreRefusedWithTheirLine) {
  struct Case {
    std::string text;
    std::string problem;  // empty: clean
  };
  const std::vector<Case> cases = {
      {"a = \"tab\there\"\r\n\"b ✓\" = \"Jürgen \\\" 𝄞\"  # ✓\nc = 'u'\n", ""},
      {"c = 'ü'", "line 1: a letter beyond ASCII in a '...' string (write it in \"...\")"},
      {"d = \"\"\"\nü\"\"\"\"\ne = '''u'''''\nf = \"\\\\\"", ""},
      {"[\xc6\xbd]\n", "line 1: a letter beyond ASCII outside quotes (a key needs them: \"...\")"},
      {"a = \"x\\\"\nb\xc3\xbc = 1",
       "line 2: a letter beyond ASCII outside quotes (a key needs them: \"...\")"},
      {"a = \"\xff\"", "line 1: not UTF-8 text"},
      {"[a]\n [ /x]\n", "line 2: a table name must begin with a letter, digit, - or _, or a quote"},
      {"[[\n]/a]", "line 1: a table name must begin with a letter, digit, - or _, or a quote"},
      {"a = 0\"\xc3\xbc\"\n", "line 1: a quote where no string may begin"},
      {"[ \"a\".b]\n[[ _c ]]\n[-]\n[]\na = [\n [1], ['x']]", ""},
      {"\n\n[\x15]\n", "line 3: control character 0x15 (only tab and line ends may appear)"},
      {"a = 1\x7f\n", "line 1: control character 0x7F (only tab and line ends may appear)"},
      {"a = \"\xc0\xaf\"", "line 1: not UTF-8 text"},          // overlong '/'
      {"a = \"\xed\xa0\x80\"", "line 1: not UTF-8 text"},      // a surrogate
      {"a = \"\xf4\x90\x80\x80\"", "line 1: not UTF-8 text"},  // beyond U+10FFFF
      {"a = \"\xe2\x9c\"", "line 1: not UTF-8 text"},          // cut short
      {std::string("a = 1\n\0", 7),
       "line 2: control character 0x00 (only tab and line ends may appear)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TomlTextProblem(c.text).value_or(""), c.problem);
  }
  // A text the pre-check passes but toml++ 3.3 has an internal expectation about.
  EXPECT_EQ(ReadUpdateSetText("a=[[}]\n", "set.toml").problems,
            std::vector<std::string>{"set.toml: not TOML text that can be read"});
  // Letters beyond ASCII reach the parser as escapes, and come back as they were.
  const UpdateSet named = ReadUpdateSetText(
      "[[firmware]] # \xc3\xbc\nfile = \"/b\xc3\xbcro/\xf0\x9d\x84\x9e.mot\"\n", "s.toml");
  ASSERT_EQ(named.items.size(), 1u);
  EXPECT_EQ(named.items[0].file, "/b\xc3\xbcro/\xf0\x9d\x84\x9e.mot");
  const UpdateSet set = ReadUpdateSetText("[\x15]\n", "set.toml");
  EXPECT_EQ(set.problems,
            std::vector<std::string>{
                "set.toml:1: control character 0x15 (only tab and line ends may appear)"});
}

TEST(Interrupt, LastWordsAreSaidOnceAndNotAfterTheyWereCleared) {
  ResetInterruptForTesting();
  int said = 0;
  SetLastWords([&] { ++said; });
  SayLastWords();
  SayLastWords();
  EXPECT_EQ(said, 1);
  SetLastWords([&] { ++said; });
  ClearLastWords();
  SayLastWords();
  EXPECT_EQ(said, 1);
}

// The handler says the final words and ends the process; the transfer's thread may meanwhile set
// and say the outcome's words, which would write a second record line.
TEST(Interrupt, WordsSetAfterTheFinalWordsAreNeverSaid) {
  ResetInterruptForTesting();
  std::vector<std::string> said;
  SetLastWords([&] { said.push_back("while the transfer ran"); });
  SayFinalWords();
  SetLastWords([&] { said.push_back("the outcome"); });
  SayLastWords();
  SayFinalWords();
  EXPECT_EQ(said, std::vector<std::string>{"while the transfer ran"});
  ResetInterruptForTesting();
}

// The block phase's speed, against the line model: 258 bytes of 10 bits a block at 38400 baud.
TEST(TerminalStatusView, BlockRateFiguresFollowTheFakeClock) {
  ViewFixture f;
  auto lines = f.Make(TerminalStatusView::Mode::Lines);
  auto json = f.Make(TerminalStatusView::Mode::Json);
  for (TerminalStatusView* view : {&lines, &json}) {
    f.millis = 1000;
    view->StartBlockRate();
    view->SetProgressRange(128);
    f.millis = 3000;  // 32 blocks in 2 s
    view->NoteBlocks(32, 128);
    view->SetProgressPos(32);
    view->EndBlockRate();
    view->SetProgressPos(0);
  }
  EXPECT_EQ(f.err.str(), "  progress 32/128 (4096 B/s, 6 s left, 108% of 38400 baud)\n");
  EXPECT_NE(f.out.str().find("\"pos\":32,\"max\":128,\"bytesPerSecond\":4096,\"secondsLeft\":6,"
                             "\"linePercent\":108}"),
            std::string::npos)
      << f.out.str();
  EXPECT_NE(f.out.str().find("{\"event\":\"progress\",\"pos\":0,\"max\":128}"), std::string::npos);
}

// Every way into the command table, on a table of two commands.
TEST(CommandTable, HelpUsageErrorsAndDispatchComeFromTheTable) {
  const struct {
    std::vector<const char*> args;
    int exit;
    const char* out;  // text out must hold ("" for empty)
    const char* err;
  } cases[] = {
      {{}, 1, "  two                         Second command", ""},
      {{"help"}, 0, "one                         First command", ""},
      {{"help", "two"}, 0, "Usage: loadwing two [OPTIONS]", ""},
      {{"two", "--help"}, 0, "Usage: loadwing two [OPTIONS]", ""},
      {{"--help-all"}, 0, "\nloadwing two:\n  Second command\n", ""},
      {{"help", "nope"}, 1, "", "loadwing: unknown command 'nope' (commands: one, two)\n"},
      {{"nope\x1b[2J"}, 1, "", "loadwing: unknown command 'nope\\x1B[2J' (commands: one, two)\n"},
      {{"one", "--count", "0"},
       1,
       "",
       "loadwing: --count: takes a whole number from 1 to 9, not '0'"},
      {{"one", "--count", "99999999999999999999"}, 1, "", "from 1 to 9, not '9999"},
      {{"one", "--count", "x"}, 1, "", "loadwing: --count: takes a whole number"},
      {{"one", "--scale", "nan"},
       1,
       "",
       "loadwing: --scale: takes a number from 1 to 1000, not 'nan'"},
      {{"one", "--name", ""}, 1, "", "loadwing: --name: takes a name, not an empty text"},
      {{"one", "--bogus"},
       1,
       "",
       "loadwing: The following argument was not expected: --bogus\nRun "
       "'loadwing help one' for its options."},
      {{"one", "--count", "7", "--scale", "2.5"}, 7, "ran one", ""},
      {{"two"}, 0, "ran two", ""},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    std::ostringstream err;
    unsigned count = 0;
    double scale = 1;
    std::string name = "x";
    CommandTable table("Test program.");
    Options one = table.Add("one", "First command", [&] {
      out << "ran one";
      return static_cast<int>(count);
    });
    one.Add("--count", count, "").Check(WholeNumber(1, 9));
    one.Add("--scale", scale, "").Check(NumberBetween(1, 1000));
    one.Add("--name", name, "").Check(NotEmpty("a name"));
    table.Add("two", "Second command", [&] {
      out << "ran two";
      return 0;
    });
    std::vector<const char*> argv = {"loadwing"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const std::string what = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(table.Run(static_cast<int>(argv.size()), argv.data(), out, err), c.exit) << what;
    EXPECT_NE(out.str().find(c.out), std::string::npos) << what << ": " << out.str();
    EXPECT_NE(err.str().find(c.err), std::string::npos) << what << ": " << err.str();
    if (*c.err == '\0') {
      EXPECT_EQ(err.str(), "") << what;
    }
  }
}

// The permission advice against a fake group file: dialout is 20, with anna in it.
TEST(PortPermissionAdvice, NamesAGroupOnlyWhereJoiningItHelps) {
  const std::string groups =
      "root:x:0:\n"
      "broken line without colons\n"
      "tty:x:5:anna\n"
      "dialout:x:20:bob,anna\n"
      "dialout:x:notanumber:anna\n";
  const struct {
    std::uint32_t gid;
    unsigned mode;
    std::vector<std::uint32_t> session;
    std::string user;
    const char* first;   // the first line holds this
    const char* absent;  // and no line holds this
  } cases[] = {
      {20,
       0660,
       {1000},
       "carl",
       "belongs to the group dialout, which your user is not in",
       "started before"},
      {20,
       0660,
       {1000},
       "anna",
       "you are in dialout, but this session started before: log in again",
       "usermod"},
      {20, 0660, {1000, 20}, "anna", "although this session is in the group dialout", "usermod"},
      {0, 0660, {1000}, "anna", "belongs to root (group root, mode 0660)", "usermod"},
      {0, 0600, {1000}, "anna", "run as its owner (sudo), or give the device a group", "usermod"},
      {5, 0620, {1000}, "anna", "belongs to root (group tty, mode 0620)", "usermod"},
      {77, 0660, {1000}, "anna", "group number 77", "usermod"},
  };
  for (const auto& c : cases) {
    PortPermission port;
    port.path = "/dev/ttyUSB0";
    port.ownerName = "root";
    port.groupId = c.gid;
    port.mode = c.mode;
    port.userName = c.user;
    port.userGid = 1000;
    port.sessionGroups = c.session;
    port.groupFile = groups;
    const std::vector<std::string> lines = PermissionAdvice(port);
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    EXPECT_NE(all.find(c.first), std::string::npos) << c.gid << " " << c.user << ": " << all;
    EXPECT_EQ(all.find(c.absent), std::string::npos) << c.gid << " " << c.user << ": " << all;
  }
}

TEST(ControllerNames, SpellingsPeopleUse) {
  const struct {
    const char* name;
    std::optional<FirmwareTarget> target;
  } cases[] = {
      {"module 3", FirmwareTarget::Module3},
      {"Module7", FirmwareTarget::Module7},
      {"MODULE-0", FirmwareTarget::Module0},
      {"module 8", std::nullopt},
      {"main controller", FirmwareTarget::FanfolderCrossfolder},
      {"Fanfolder/Crossfolder", FirmwareTarget::FanfolderCrossfolder},
      {"WebC", FirmwareTarget::WebC},
      {"CAN module", FirmwareTarget::CanModule},
      {"CanModule", FirmwareTarget::CanModule},
      {"", std::nullopt},
      {"modules", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(TargetFromName(c.name), c.target) << c.name;
  // Every controller's own names read back.
  for (int value : {10, 11, 12, 13, 14, 15, 16, 17, 20, 64, 128}) {
    const auto target = static_cast<FirmwareTarget>(value);
    EXPECT_EQ(TargetFromName(TargetName(target)), target);
    EXPECT_EQ(TargetFromName(TargetDescription(target)), target);
  }
}
}  // namespace
}  // namespace loadwing::cli

namespace loadwing::cli {
namespace {

// Ctrl-C while the set is checked: exit 130 before any link is opened or anything recorded.
TEST(UpdateCommand, AnInterruptDuringTheSetCheckSendsAndRecordsNothing) {
  const std::string state = ::testing::TempDir() + "loadwing_interrupted_state";
  ::setenv("XDG_STATE_HOME", state.c_str(), 1);
  UpdateOptions options;
  options.set = std::string(LOADWING_SOURCE_DIR) + "/examples";
  options.link.port = kSimPort;
  InterruptToken().Cancel();
  std::ostringstream out;
  std::ostringstream err;
  const int code = RunUpdate(options, out, err);
  InterruptToken().Reset();
  EXPECT_EQ(code, kExitInterrupted);
  EXPECT_NE(err.str().find("nothing was sent"), std::string::npos) << err.str();
  EXPECT_EQ(err.str().find("simulated machine"), std::string::npos) << "a link was opened";
  EXPECT_FALSE(std::ifstream(state + "/loadwing/flash-record.jsonl").good());
}

}  // namespace
}  // namespace loadwing::cli
