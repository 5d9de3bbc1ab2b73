// The AddinConversation fixture: see support/addin_conversation_fixture.h.
#include "support/addin_conversation_fixture.h"

#include <cstddef>

#include "pclink/echo.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "qvinstall/addin_conversation.h"
#include "qvinstall/settings.h"
#include "support/device_answers.h"

namespace {

// The units of a "CFD" exchange that opens every file: the command, its EOT,
// ENQ and the two ACKs.
constexpr std::size_t cfd_units = 5;

}  // namespace

void AddinConversation::SetUp() {
  scripted_port::reset();
  install_settings = InstallSettings{};
  echo_enabled = false;
  open_port(1);
}

void AddinConversation::script_file(int data_packets, const std::string& final_reply) {
  scripted_port::queue_incoming({ENQ});
  device_answers::Answers answers = device_answers::command("DOK");
  device_answers::append(answers, device_answers::write_train(data_packets, final_reply));
  scripted_port::answer_units(answers);
}

std::string AddinConversation::send(const std::string& name, int expected_result) {
  std::string changeable = name;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(send_addin_file(changeable.data()), expected_result);
  return ::testing::internal::GetCapturedStderr();
}

std::vector<scripted_port::Bytes> AddinConversation::units_after_cfd() {
  const auto& units = scripted_port::written_units();
  return std::vector<scripted_port::Bytes>(units.begin() + cfd_units, units.end());
}
