#include <gtest/gtest.h>

#include <QImage>

#include "console/resource_table.h"
#include "console/resources.h"

TEST(Resources, BitmapsHaveTheirSizes) {
  struct Size {
    int id, w, h;
  };
  const Size sizes[] = {
      {151, 586, 401},
      {152, 132, 356},
      {210, 378, 169},
      {212, 99, 25},
      {211, 99, 25},
      {154, 20, 20},
      {166, 20, 20},
      {214, 285, 430},
      // Page buttons: normal, pressed (also disabled) and hover of each.
      {143, 99, 25},
      {142, 99, 25},
      {144, 99, 25},
      {169, 99, 25},
      {171, 99, 25},
      {170, 99, 25},
      {172, 99, 25},
      {168, 99, 25},
      {173, 99, 25},
      {145, 99, 25},
      {147, 99, 25},
      {146, 99, 25},
      // Buttons of the pages and dialogs.
      {174, 99, 25},
      {175, 99, 25},
      {180, 99, 25},
      {177, 99, 25},
      {183, 99, 25},
      {184, 99, 25},
      {181, 99, 25},
      {182, 99, 25},
      {185, 99, 25},
      {186, 99, 25},
      {188, 99, 25},
      {189, 99, 25},
      {190, 99, 25},
      {191, 99, 25},
      {192, 99, 25},
      {193, 99, 25},
      {194, 99, 25},
      {195, 99, 25},
      {196, 99, 25},
      {197, 99, 25},
      {202, 99, 25},
      {203, 99, 25},
      {204, 99, 25},
      {205, 99, 25},
      {206, 99, 25},
      {207, 99, 25},
      {208, 99, 25},
      {209, 99, 25},
      {221, 99, 25},
      {222, 99, 25},
      {223, 99, 25},
      {224, 99, 25},
  };
  for (const Size& s : sizes) {
    QPixmap p = res::LoadBitmap(s.id);
    ASSERT_FALSE(p.isNull()) << s.id;
    EXPECT_EQ(p.size(), QSize(s.w, s.h)) << s.id;
  }
  EXPECT_TRUE(res::LoadBitmap(4242).isNull());
}

TEST(Resources, PressedFacesDifferFromNormalOnes) {
  const std::pair<int, int> pairs[] = {{143, 142}, {169, 171}, {172, 168}, {145, 147}, {212, 211}};
  for (auto [normal, pressed] : pairs) {
    EXPECT_NE(res::LoadBitmap(normal).toImage(), res::LoadBitmap(pressed).toImage()) << normal;
  }
}

TEST(Resources, TheMainBackgroundCarriesTheColourKeyOutsideTheWindow) {
  QImage bg = res::LoadBitmap(res::IDB_MAIN_BACKGROUND).toImage().convertToFormat(QImage::Format_RGB32);
  const QRgb key = qRgb(229, 27, 255);
  EXPECT_EQ(bg.pixel(0, 0), key);
  EXPECT_EQ(bg.pixel(585, 400), key);
  // Where the page buttons, pages and small buttons lie there is no key.
  for (int y = 80; y < 380; y += 7) {
    for (int x = 10; x < 580; x += 7) EXPECT_NE(bg.pixel(x, y), key) << x << "," << y;
  }
  for (QPoint p : {QPoint(530, 36), QPoint(575, 55)}) EXPECT_NE(bg.pixel(p), key);
}

TEST(Resources, IconsStringsAndTemplates) {
  EXPECT_FALSE(res::LoadIcon(res::IDI_MONITORING).isNull());
  EXPECT_FALSE(res::LoadIcon(res::IDI_NOT_MONITORING).isNull());
  EXPECT_TRUE(res::LoadIcon(231).isNull());
  EXPECT_EQ(res::LoadString(res::IDS_ABOUTBOX), "&About Quillmark 2...");
  EXPECT_EQ(res::LoadString(999), "");
  EXPECT_FALSE(res::MenuTemplate(res::IDR_TRAY_MENU).empty());
  EXPECT_TRUE(res::MenuTemplate(156).empty());
  const res::DialogTemplate* main = res::FindDialogTemplate(res::IDD_MAIN);
  ASSERT_NE(main, nullptr);
  // The main window is its background picture: the two must agree in size.
  EXPECT_EQ(QSize(main->width, main->height), res::LoadBitmap(res::IDB_MAIN_BACKGROUND).size());
  EXPECT_STREQ(main->title, "Quillmark");
  const res::DialogTemplate* message = res::FindDialogTemplate(res::IDD_MESSAGE);
  ASSERT_NE(message, nullptr);
  EXPECT_STREQ(message->title, "Quillmark");
}
