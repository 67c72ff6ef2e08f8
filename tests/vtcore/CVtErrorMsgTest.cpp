#include <gtest/gtest.h>

#include <string>

#include "platform/mfc/CException.h"
#include "platform/vtcore/CVtErrorMsg.h"

namespace {

TEST(CVtErrorMsgTest, MessagesCarryTheirCodeAndArgument) {
  CVtErrorMsg* msg = VtGetErrorMsgObj();
  EXPECT_EQ(msg, VtGetErrorMsgObj());  // one object per process
  msg->Clear();
  EXPECT_FALSE(msg->HasMessage());

  msg->FormatMessage(31334, "/data/dem.ifo");
  EXPECT_TRUE(msg->HasMessage());
  EXPECT_EQ(msg->GetCode(), 31334);
  EXPECT_NE(msg->GetMessage().Find("/data/dem.ifo"), -1);
  EXPECT_EQ(msg->GetMessage().Find("%s"), -1);

  msg->FormatMessage(31332, "x.ecw");
  EXPECT_EQ(msg->GetCode(), 31332);
  EXPECT_NE(msg->GetMessage().Find("x.ecw"), -1);

  // Every message number in use has a text of its own, distinct from the others.
  std::string previous;
  for (unsigned code : {31332u, 31334u, 31343u, 31344u, 31345u, 31346u}) {
    std::string text = CVtErrorMsg::GetMessageText(code).str();
    EXPECT_EQ(text.find("Error "), std::string::npos) << code;
    EXPECT_NE(text, previous);
    previous = text;
  }
}

TEST(CVtErrorMsgTest, SetMessageForms) {
  CVtErrorMsg* msg = VtGetErrorMsgObj();
  msg->SetMessage(31345u, -1, "");
  EXPECT_EQ(msg->GetCode(), 31345);
  EXPECT_STREQ(msg->GetMessage(), CVtErrorMsg::GetMessageText(31345));

  msg->SetMessage(31346u, -1, "line 13");
  EXPECT_NE(msg->GetMessage().Find("(line 13)"), -1);

  msg->SetMessage(0L, "Volume 2 is missing");
  EXPECT_EQ(msg->GetCode(), 0);
  EXPECT_STREQ(msg->GetMessage(), "Volume 2 is missing");

  CFileException e(CFileException::fileNotFound, 2, "/nowhere/x.e00");
  msg->CatchFileException(&e);
  EXPECT_EQ(msg->GetCode(), 0);
  EXPECT_NE(msg->GetMessage().Find("/nowhere/x.e00"), -1);
  msg->Clear();
}

}  // namespace
