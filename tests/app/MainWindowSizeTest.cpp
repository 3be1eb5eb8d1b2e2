// The main window at other sizes and in other colours: a window that grows
// takes the map and its needle along (read off the rendered window), keeps
// its controls in order and shows the whole status line; a dark palette
// gives a dark rotator page with readable captions.

#include "MainTestFixture.h"
#include "tools/Gs232Emulator.h"

#include <QApplication>
#include <QPalette>
#include <QScopeGuard>
#include <QTest>

#include <chrono>
#include <cmath>
#include <numbers>

using namespace std::chrono_literals;

namespace {

using MainSizeTest = MainWithEmulatorTest;

// What the rendered map shows of the direction needle: the bearing of its
// black pixels from the map's centre, clockwise from north, and how far the
// farthest of them lies from it. Nothing when no black pixel shows.
struct TNeedleSeen {
  double Degrees;
  double Reach;
};

std::optional<TNeedleSeen> ReadNeedle(const TControls &C) {
  const QImage Shown = C.pnlRotator->grab().toImage();
  const QRect Map = C.imgMap->geometry();
  const QPointF Centre(Map.x() + Map.width() / 2.0, Map.y() + Map.height() / 2.0);
  double SumX = 0, SumY = 0, Reach = 0;
  int Count = 0;
  const qreal Ratio = Shown.devicePixelRatio();
  for (int Y = Map.top(); Y <= Map.bottom(); ++Y)
    for (int X = Map.left(); X <= Map.right(); ++X) {
      if (Shown.pixel(int(X * Ratio), int(Y * Ratio)) != qRgb(0, 0, 0))
        continue;
      const double Dx = X + 0.5 - Centre.x(), Dy = Centre.y() - (Y + 0.5);
      SumX += Dx;
      SumY += Dy;
      Reach = std::max(Reach, std::hypot(Dx, Dy));
      ++Count;
    }
  if (Count == 0)
    return std::nullopt;
  // The needle reaches much further ahead of the centre than behind it, so
  // its pixels' middle lies in its direction.
  double Degrees = std::atan2(SumX, SumY) * 180 / std::numbers::pi;
  if (Degrees < 0)
    Degrees += 360;
  return TNeedleSeen{Degrees, Reach};
}

double AngleBetween(double A, double B) {
  const double D = std::fmod(std::abs(A - B), 360.0);
  return std::min(D, 360 - D);
}

TEST_F(MainSizeTest, GrownWindowScalesTheMapAndItsNeedleAndKeepsTheControlsInOrder) {
  WriteSettings({{"Rotator_0", EntryKeys("Mast", Emulator->devicePath(), true, true)}});
  auto M = Start();
  const TControls C(*M);
  M->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(M.get()));
  ASSERT_TRUE(WaitFor([&] { return CurrentDriver(*M)->Active(); }));
  // The smallest size is the one the page was drawn for; the window can grow.
  EXPECT_EQ(M->centralWidget()->minimumSize(), QSize(269, 421));
  EXPECT_GT(M->maximumWidth(), M->width());
  EXPECT_GT(M->maximumHeight(), M->height());

  struct TCase {
    QSize Client;
    int Azimuth;
  };
  const TCase Cases[] = {
      {{269, 421}, 0},   {{269, 421}, 135}, {{600, 700}, 90},
      {{600, 700}, 200}, {{900, 520}, 300}, {{420, 1000}, 45},
  };
  for (const TCase &Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.Client.width() << "x" << Case.Client.height() << " at "
                                    << Case.Azimuth << "°");
    M->resize(M->size() - M->centralWidget()->size() + Case.Client);
    ASSERT_TRUE(WaitFor([&] { return M->centralWidget()->size() == Case.Client; }));
    Emulator->setAzimuth(Case.Azimuth);
    ASSERT_TRUE(WaitFor([&] { return Status(*M)[0] == QStringLiteral("AZ=%1°").arg(Case.Azimuth); }))
        << Status(*M)[0].toStdString();

    // The map is the largest square between the top row and the turn
    // buttons, inside the page.
    const QRect Page = C.pnlRotator->rect();
    const QRect Map = C.imgMap->geometry();
    EXPECT_EQ(Map.width(), Map.height());
    EXPECT_TRUE(Page.contains(Map));
    EXPECT_TRUE(Map.width() == Page.width() - 15 ||
                Map.bottom() + 3 >= C.GroupBox2->y() - 1)
        << Map.width() << " " << Page.width();
    for (QWidget *Layer : {static_cast<QWidget *>(C.imgPreset), static_cast<QWidget *>(C.imgRelay),
                           static_cast<QWidget *>(C.imgDirection)})
      EXPECT_EQ(Layer->geometry(), Map);

    // The needle, read off the rendered page: in the rotator's direction and
    // nine tenths of two fifths of the map's side long.
    const std::optional<TNeedleSeen> Needle = ReadNeedle(C);
    ASSERT_TRUE(Needle);
    EXPECT_LT(AngleBetween(Needle->Degrees, Case.Azimuth), 2.0) << Needle->Degrees;
    EXPECT_NEAR(Needle->Reach, Map.width() * 0.4 * 0.9, 4.0);

    // The controls in their order: field, Preset and Open/Close above the
    // map, the turn buttons below it, CCW, STOP, CW from the left.
    EXPECT_LT(C.edtPresetD->geometry().right(), C.btnPreset->x());
    EXPECT_LT(C.btnPreset->geometry().right(), C.btnOpenClose->x());
    EXPECT_LE(C.btnOpenClose->geometry().right(), Page.right());
    EXPECT_LT(C.btnPreset->geometry().bottom(), Map.top());
    EXPECT_GT(C.GroupBox2->y(), Map.bottom());
    EXPECT_LE(C.GroupBox2->geometry().bottom(), Page.bottom());
    EXPECT_LT(C.btnCCW->geometry().right(), C.btnStop->x());
    EXPECT_LT(C.btnStop->geometry().right(), C.btnCW->x());
    EXPECT_LE(C.btnCW->geometry().right(), C.GroupBox2->width());
    EXPECT_EQ(C.btnPreset->text(), "Preset");
    EXPECT_EQ(C.btnOpenClose->text(), "Close");
    // The console page grows alike.
    EXPECT_EQ(C.pnlConsole->geometry(), C.pnlRotator->geometry());
    EXPECT_LE(C.Memo1->geometry().right(), Page.right());
    EXPECT_GT(C.Memo1->height(), Page.height() - 110);
  }
  EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
}

// A notice across the status bar (here a datagram the network ignored) is
// cut only while the window is narrower than the text; grown, the window
// shows all of it, and its tooltip always has the whole text.
TEST_F(MainSizeTest, StatusLineShowsTheWholeNoticeOnceTheWindowIsWideEnough) {
  auto M = Start();
  const TControls C(*M);
  M->show();
  const QString Text = QStringLiteral(
      "UDP port 12040: datagram ignored (1 so far): not a command this program knows");
  M->ShowNotice(Text);
  const auto *Notice = TControls::Find<QLabel>(*M, "StatusNotice");
  ASSERT_TRUE(Notice->isVisible());
  EXPECT_EQ(Notice->text(), Text);
  EXPECT_EQ(Notice->toolTip(), Text);
  const int Needed = Notice->fontMetrics().horizontalAdvance(Text) + 2 * Notice->frameWidth() +
                     2 * Notice->margin();
  ASSERT_GT(Needed, Notice->width()) << "the text fits the smallest window already";

  M->resize(M->size() + QSize(Needed - Notice->width() + 40, 0));
  ASSERT_TRUE(WaitFor([&] { return Notice->width() >= Needed; })) << Notice->width();
  EXPECT_LE(Notice->geometry().right(), C.StatusBar1->width());
  // The azimuth panels share the wider bar.
  EXPECT_GT(C.StatusPanels[0]->width(), 65);
}

// A dark palette, set before the window is made or while it shows, gives a
// dark rotator page whose captions are drawn in the palette's light text.
TEST_F(MainSizeTest, DarkPaletteGivesADarkPageWithReadableCaptions) {
  const QPalette Before = QApplication::palette();
  QPalette Dark;
  Dark.setColor(QPalette::Window, QColor(45, 45, 48));
  Dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
  Dark.setColor(QPalette::Base, QColor(30, 30, 30));
  Dark.setColor(QPalette::Text, QColor(230, 230, 230));
  Dark.setColor(QPalette::Button, QColor(60, 60, 64));
  Dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
  Dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
  Dark.setColor(QPalette::HighlightedText, Qt::white);
  const auto Restore = qScopeGuard([&] { QApplication::setPalette(Before); });

  for (const bool SetFirst : {true, false}) {
    SCOPED_TRACE(SetFirst ? "palette set before the window" : "palette set while it shows");
    QApplication::setPalette(SetFirst ? Dark : Before);
    auto M = Start();
    const TControls C(*M);
    M->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(M.get()));
    if (!SetFirst)
      QApplication::setPalette(Dark);
    QCoreApplication::processEvents();

    for (QFrame *Page : {C.pnlRotator, C.pnlConsole}) {
      SCOPED_TRACE(Page->objectName().toStdString());
      Page->raise();
      const QImage Shown = Page->grab().toImage();
      // Beside the controls: the left margin, the gap between the buttons,
      // the bottom margin.
      const QPoint Samples[] = {{2, Page->height() / 2},
                                {Page->width() - 3, Page->height() / 2},
                                {Page->width() / 2, Page->height() - 4}};
      for (const QPoint &At : Samples)
        EXPECT_LT(Shown.pixelColor(At).lightness(), 100)
            << At.x() << "," << At.y() << " " << Shown.pixelColor(At).name().toStdString();
    }
    const QColor Panel = C.pnlRotator->palette().color(QPalette::Window);
    for (QLabel *Caption : C.GroupBox2->findChildren<QLabel *>())
      EXPECT_GT(Caption->palette().color(QPalette::WindowText).lightness() - Panel.lightness(), 100)
          << Caption->text().toStdString();
    M->close();
  }
}

} // namespace
