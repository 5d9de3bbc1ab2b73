// The command lines of qvcopy, qvcomlog and qvdir, and the log slot's name
// and header.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pclink/echo.h"
#include "pclink/link_options.h"
#include "pclink/serial_port.h"
#include "qvcomlog/log_command.h"
#include "qvcopy/copy_command.h"
#include "qvdir/list_command.h"
#include "support/scripted_port.h"

namespace {

// argv for a parser: the program name, then the arguments.
struct Arguments {
  explicit Arguments(std::vector<std::string> list) : texts(std::move(list)) {
    texts.insert(texts.begin(), "program");
    for (std::string& text : texts) pointers.push_back(text.data());
  }
  int argc() const { return static_cast<int>(pointers.size()); }
  char** argv() { return pointers.data(); }

  std::vector<std::string> texts;
  std::vector<char*> pointers;
};

std::string or_none(const char* text) {
  return text == nullptr ? "(none)" : text;
}

class ProgramCommands : public ::testing::Test {
 protected:
  void SetUp() override { scripted_port::reset(); }

  CopyCommand copy(std::vector<std::string> list) {
    arguments = std::make_unique<Arguments>(std::move(list));
    return parse_copy_command(arguments->argc(), arguments->argv());
  }
  LogCommand log(std::vector<std::string> list) {
    arguments = std::make_unique<Arguments>(std::move(list));
    return parse_log_command(arguments->argc(), arguments->argv());
  }
  ListCommand list(std::vector<std::string> list) {
    arguments = std::make_unique<Arguments>(std::move(list));
    return parse_list_command(arguments->argc(), arguments->argv());
  }

  std::unique_ptr<Arguments> arguments;
};

TEST_F(ProgramCommands, CopyNamesDefaultAndAThirdIsRefused) {
  CopyCommand one = copy({"a.txt"});
  EXPECT_FALSE(one.fetch);
  EXPECT_EQ(or_none(one.first_name), "a.txt");
  EXPECT_EQ(or_none(one.second_name), "a.txt");
  // A device file is named after the host file, not the folders it is in;
  // a host file fetched by default keeps the device name whole.
  EXPECT_EQ(or_none(copy({"../notes/memo.txt"}).second_name), "memo.txt");
  EXPECT_EQ(or_none(copy({"/abs/dir/", "-C"}).second_name), "");
  EXPECT_EQ(or_none(copy({"-g", "DIR/X.TXT"}).second_name), "DIR/X.TXT");
  EXPECT_EQ(or_none(copy({"../a", "keep/As/Typed"}).second_name), "keep/As/Typed");
  // A third name is refused, not put in the second's place unseen.
  CopyCommand three = copy({"x", "y", "z"});
  EXPECT_EQ(three.first_name, nullptr);
  ASSERT_EQ(three.refusal.reason, &msg("name_too_many"));
  EXPECT_EQ(three.refusal.values, (std::vector<std::string>{"z", "y"}));
  CopyCommand dash = copy({"-g", "-", "-s2"});
  EXPECT_TRUE(dash.fetch);
  EXPECT_EQ(or_none(dash.first_name), "-");  // a lone "-" is a name
  EXPECT_EQ(dash.link_mode, 2);
  EXPECT_EQ(copy({"-s", "a"}).link_mode, 0);
  EXPECT_EQ(copy({"-s3", "a"}).link_mode, 3);
  EXPECT_EQ(copy({"a"}).link_mode, default_link_mode);
}

TEST_F(ProgramCommands, CopyRejectionsForgetTheNames) {
  EXPECT_EQ(copy({}).first_name, nullptr);
  EXPECT_EQ(copy({"a.txt", "-x"}).first_name, nullptr);
  EXPECT_EQ(copy({"a.txt", "-G"}).first_name, nullptr);  // options are case-sensitive
  EXPECT_EQ(copy({"a.txt", "-d"}).first_name, nullptr);
  EXPECT_EQ(copy({"-d", "--x", "a.txt"}).first_name, nullptr);  // a forgotten port name
  EXPECT_EQ(copy({"-c3", "a.txt"}).first_name, nullptr);  // -c is qvcomlog's only
  // A letter beside a known one is no longer passed over: "-gx" is no fetch.
  CopyCommand typo = copy({"-gx", "A"});
  EXPECT_EQ(typo.first_name, nullptr);
  ASSERT_NE(typo.refusal.reason, nullptr);
  EXPECT_STREQ(typo.refusal.reason->key, "option_letter_unknown");
  EXPECT_EQ(typo.refusal.values, (std::vector<std::string>{"x", "-gx"}));
  EXPECT_EQ(copy({"-s12", "a"}).first_name, nullptr);  // one digit, not mode 1 or 2
  EXPECT_EQ(copy({"-sv", "a"}).first_name, nullptr);
}

TEST_F(ProgramCommands, GroupedLettersAndSeparateValuesAreEachHonoured) {
  CopyCommand fetch = copy({"-vg", "A"});
  EXPECT_TRUE(fetch.fetch);
  EXPECT_TRUE(fetch.verify);
  EXPECT_EQ(or_none(fetch.first_name), "A");
  CopyCommand grouped = copy({"-Cd/dev/ttyUSB3", "-gm", "256K", "B"});
  EXPECT_FALSE(echo_enabled);
  EXPECT_EQ(std::string(current_port_name()), "/dev/ttyUSB3");
  EXPECT_EQ(grouped.fetch_room, 262144);
  EXPECT_EQ(or_none(grouped.first_name), "B");
  EXPECT_EQ(copy({"-Cs2", "a"}).link_mode, 2);
  LogCommand log_grouped = log({"-gc3", "-m8K", "x"});
  EXPECT_EQ(log_grouped.log_slot, 3);
  EXPECT_EQ(log_grouped.fetch_room, 8192);
  EXPECT_EQ(log({"-c12", "x"}).host_name, nullptr);  // one slot character
}

TEST_F(ProgramCommands, SharedOptionsChangeTheLinkSettings) {
  CopyCommand command = copy({"-d", "/dev/ttyUSB7", "-C", "a"});
  EXPECT_EQ(or_none(command.first_name), "a");
  EXPECT_EQ(std::string(current_port_name()), "/dev/ttyUSB7");
  EXPECT_FALSE(echo_enabled);
}

TEST_F(ProgramCommands, LogSlotsTakeTheLowFourBits) {
  EXPECT_EQ(log_slot_from_value("0"), 0);
  EXPECT_EQ(log_slot_from_value("3"), 3);
  EXPECT_EQ(log_slot_from_value("8"), 8);
  EXPECT_EQ(log_slot_from_value("9"), 0);
  EXPECT_EQ(log_slot_from_value(":"), 0);
  EXPECT_EQ(log_slot_from_value("A"), 1);
  EXPECT_EQ(log_slot_from_value(nullptr), 0);
  EXPECT_EQ(log({"-c5", "f", "-c7"}).log_slot, 7);
}

TEST_F(ProgramCommands, LogCommandLine) {
  LogCommand command = log({"-g", "b.txt", "-s0"});
  EXPECT_TRUE(command.fetch);
  EXPECT_EQ(or_none(command.host_name), "b.txt");
  EXPECT_EQ(command.link_mode, 0);
  // A slot given apart from its -c would be a second name: refused, where
  // it once logged to slot 0 under the last name.
  LogCommand apart = log({"-c", "3", "memo.txt"});
  EXPECT_EQ(apart.host_name, nullptr);
  ASSERT_EQ(apart.refusal.reason, &msg("name_too_many"));
  EXPECT_EQ(apart.refusal.values, (std::vector<std::string>{"memo.txt", "3"}));
  EXPECT_EQ(log({"a.txt", "-x"}).host_name, nullptr);
  EXPECT_EQ(log({"a.txt", "-d"}).host_name, nullptr);
  EXPECT_EQ(log({}).host_name, nullptr);
  EXPECT_EQ(or_none(log({"-"}).host_name), "-");
}

TEST_F(ProgramCommands, LogNameAndHeaderCarryTheSlotDigit) {
  char name[log_device_name_size];
  log_device_name(0, name);
  EXPECT_STREQ(name, "COM0.LOG");
  log_device_name(8, name);
  EXPECT_STREQ(name, "COM8.LOG");
  char header[log_header_length + 1];
  log_header(0, header);
  EXPECT_EQ(std::string(header), "#01;19100101 000000\r###;\r");
  log_header(3, header);
  EXPECT_EQ(std::string(header), "#01;19130101 000000\r###;\r");
  EXPECT_EQ(std::string(header).size(), 25u);
}

TEST_F(ProgramCommands, TheFetchRoomTakesBytesKAndMUpToOneByteBelowTheFieldsTop) {
  struct Case {
    const char* option;
    int room;  // -1: the command line is rejected
  };
  for (const Case& c : {Case{"-m200000", 200000}, Case{"-m256K", 262144}, Case{"-m15M", 15728640},
                        Case{"-m0", 0}, Case{"-m16777214", 16777214}, Case{"-m16777215", -1},
                        Case{"-m16M", -1}, Case{"-m16383K", 16776192}, Case{"-m", -1}, Case{"-mK", -1},
                        Case{"-m12k", -1}, Case{"-m1KB", -1}, Case{"-m-5", -1}, Case{"-m 5", -1},
                        Case{"-m99999999999999999999", -1}}) {
    SCOPED_TRACE(c.option);
    EXPECT_EQ(fetch_room_from_size(c.option + 2), c.room);
    CopyCommand copied = copy({"-g", c.option, "A"});
    LogCommand logged = log({"-g", c.option, "a"});
    if (c.room < 0) {
      EXPECT_EQ(copied.first_name, nullptr);
      EXPECT_EQ(logged.host_name, nullptr);
    } else {
      EXPECT_EQ(copied.fetch_room, c.room);
      EXPECT_EQ(logged.fetch_room, c.room);
    }
  }
  // Without -m a fetch may take any file the request can announce.
  EXPECT_EQ(copy({"-g", "A"}).fetch_room, 16777214);
  EXPECT_EQ(log({"-g", "a"}).fetch_room, 16777214);
}

TEST_F(ProgramCommands, ListTargetDefaultsToS1AndASecondIsRefused) {
  EXPECT_EQ(or_none(list({}).target_name), "S1:");
  EXPECT_EQ(or_none(list({"B:"}).target_name), "B:");
  ListCommand two = list({"A:", "B:"});
  EXPECT_EQ(two.target_name, nullptr);
  EXPECT_EQ(two.refusal.reason, &msg("name_too_many"));
  EXPECT_EQ(or_none(list({"-"}).target_name), "-");
  ListCommand relay = list({"-s2"});
  EXPECT_EQ(relay.link_mode, 2);
  EXPECT_EQ(list({"A:", "-g"}).target_name, nullptr);
  EXPECT_EQ(list({"A:", "-d"}).target_name, nullptr);
}

}  // namespace
