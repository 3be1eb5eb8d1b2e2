#include "app/About.h"

#include "base/Routine.h"

#include <QApplication>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

namespace {

const QColor FormColor(0xFF, 0xFB, 0xF0);
const QColor TextColor(0x2B, 0x5F, 0x93);

// A label at (Left, Top) that sizes itself to its plain text.
QLabel *MakeLabel(QWidget *Parent, const char *Name, int Left, int Top,
                  const QString &Text = {}) {
  auto *Label = new QLabel(Parent);
  Label->setObjectName(QString::fromLatin1(Name));
  Label->setTextFormat(Qt::PlainText);
  Label->move(Left, Top);
  Label->setText(Text);
  Label->adjustSize();
  return Label;
}

// The program's icon; a drawn compass rose when the application has none.
QPixmap ProgramIconPicture() {
  const QIcon Icon = QApplication::windowIcon();
  if (!Icon.isNull())
    return Icon.pixmap(32, 32);
  QPixmap Picture(32, 32);
  Picture.fill(FormColor);
  QPainter P(&Picture);
  P.setRenderHint(QPainter::Antialiasing);
  P.setPen(QPen(TextColor, 2));
  P.setBrush(Qt::white);
  P.drawEllipse(QPointF(16, 16), 13, 13);
  P.setPen(Qt::NoPen);
  P.setBrush(TextColor);
  P.drawPolygon(QPolygonF({QPointF(16, 5), QPointF(20, 16), QPointF(12, 16)}));
  P.setBrush(QColor(0xB0, 0xC4, 0xD8));
  P.drawPolygon(QPolygonF({QPointF(16, 27), QPointF(20, 16), QPointF(12, 16)}));
  return Picture;
}

} // namespace

TAboutBox::TAboutBox(QWidget *Owner) : QDialog(Owner) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("バージョン情報"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);
  setFixedSize(360, 210);

  QPalette Colors = palette();
  Colors.setColor(QPalette::Window, FormColor);
  Colors.setColor(QPalette::WindowText, TextColor);
  setPalette(Colors);
  setAutoFillBackground(true);
  QFont Font(QStringLiteral("メイリオ"));
  Font.setPixelSize(11);
  setFont(Font);

  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
  Panel1->setGeometry(8, 8, 344, 161);

  ProgramIcon = new QLabel(Panel1);
  ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
  ProgramIcon->setGeometry(20, 16, 32, 32);
  ProgramIcon->setScaledContents(true);
  ProgramIcon->setPixmap(ProgramIconPicture());

  ProductName = MakeLabel(Panel1, "ProductName", 88, 16, QStringLiteral("製品名: "));
  Version = MakeLabel(Panel1, "Version", 88, 40, QStringLiteral("バージョン"));
  Copyright = MakeLabel(Panel1, "Copyright", 8, 80, QStringLiteral("Copyright"));
  Comments = MakeLabel(Panel1, "Comments", 8, 101, QStringLiteral("コメント"));
  Comments->setWordWrap(true);
  Comments->setFixedSize(65, 16);

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setGeometry(140, 175, 75, 25);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

  lblProductName = MakeLabel(Panel1, "lblProductName", 154, 16);
  lblVersion = MakeLabel(Panel1, "lblVersion", 154, 40);
  lblCopyRight = MakeLabel(Panel1, "lblCopyRight", 79, 80);
  lblComment = MakeLabel(Panel1, "lblComment", 79, 101);
  CompanyName = MakeLabel(Panel1, "CompanyName", 8, 123, QStringLiteral("作成者"));
  CompanyName->setWordWrap(true);
  lblCompanyName = MakeLabel(Panel1, "lblCompanyName", 79, 123);

  FormCreate();

  // Centred on the screen rather than on the owner; an explicit position
  // also keeps the dialog from re-centring itself when shown.
  if (const QScreen *Screen = Owner ? Owner->screen() : QGuiApplication::primaryScreen())
    move(Screen->availableGeometry().center() - rect().center());
}

void TAboutBox::FormCreate() {
  const QString FileName = QCoreApplication::applicationFilePath();
  const auto Fill = [&](QLabel *Label, int Key) {
    Label->setText(GetVersionInfo(FileName, Key));
    Label->adjustSize();
  };
  Fill(lblProductName, vkProductName);
  Fill(lblVersion, vkFileVersion);
  Fill(lblCopyRight, vkLegalCopyright);
  Fill(lblComment, vkComments);
  Fill(lblCompanyName, vkCompanyName);
}

void ShowAboutBox(QWidget *Owner) {
  TAboutBox Box(Owner);
  Box.exec();
}
