// The windowless file dialog: one answer given beforehand, taken once.
#include <gtest/gtest.h>

#include "platform/mfc/CFileDialog.h"

namespace {

TEST(CFileDialogTest, AnswerIsTakenOnceThenCancelled) {
  CFileDialog::ClearAnswer();
  CFileDialog dialog(TRUE, "", "*.txt", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, "*.txt");
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(dialog.GetPathName(), "");

  CFileDialog::SetNextAnswer("/data/dem.v2/north.grid.txt");
  ASSERT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dialog.GetPathName(), "/data/dem.v2/north.grid.txt");
  EXPECT_EQ(dialog.GetFileName(), "north.grid.txt");
  EXPECT_EQ(dialog.GetFileExt(), "txt");
  EXPECT_EQ(dialog.GetFileTitle(), "north.grid");
  CFileDialog next(FALSE);
  EXPECT_EQ(next.DoModal(), IDCANCEL);

  CFileDialog::SetNextAnswer("x");
  CFileDialog::ClearAnswer();
  EXPECT_EQ(next.DoModal(), IDCANCEL);
}

TEST(CFileDialogTest, DefaultExtensionCompletesAnAnswerWithoutOne) {
  CFileDialog dialog(FALSE, "asc");
  CFileDialog::SetNextAnswer("C:\\grids.d\\dem");
  ASSERT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dialog.GetPathName(), "C:\\grids.d\\dem.asc");
  EXPECT_EQ(dialog.GetFileName(), "dem.asc");
  CFileDialog::SetNextAnswer("out/dem.grd");
  ASSERT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dialog.GetFileTitle(), "dem");
  EXPECT_EQ(dialog.GetFileExt(), "grd");
}

}  // namespace
