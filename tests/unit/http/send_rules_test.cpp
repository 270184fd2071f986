// What a send without any dialog does with each certificate problem.
#include "http/send_rules.h"

#include <gtest/gtest.h>

namespace {

using kit_http::AfterDialog;

// Where no dialog may be shown, nothing a person would have to accept is
// accepted; only a revocation status that could not be learnt is passed over.
TEST(SendRules, WithoutADialogOnlyAnUnknownRevocationStatusIsPassedOver) {
  for (std::uint32_t error : {12014u, 12037u, 12038u, 12039u, 12043u, 12044u, 12045u, 12055u})
    EXPECT_EQ(AfterDialog::kFinish, kit_http::DecideAfterDialog(error, kit_http::AnswerWithoutDialog(error))) << error;
  for (std::uint32_t error : {12056u, 12057u})
    EXPECT_EQ(AfterDialog::kResendIgnoringRevocation,
              kit_http::DecideAfterDialog(error, kit_http::AnswerWithoutDialog(error)))
        << error;
}

}  // namespace
