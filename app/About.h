#pragma once
// The About box: a fixed-size dialog showing the program's icon, product
// name, file version, copyright line, comment and maker, read from the
// running executable's version strings.

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
  Q_OBJECT
public:
  explicit TAboutBox(QWidget *Owner = nullptr);

  // Fills the five value labels from the running executable's version
  // strings. Run by the constructor.
  void FormCreate();

  // The controls; each also carries its name as object name.
  QFrame *Panel1;
  QLabel *ProgramIcon;
  QLabel *ProductName;
  QLabel *Version;
  QLabel *Copyright;
  QLabel *Comments;
  QPushButton *OKButton;
  QLabel *lblProductName;
  QLabel *lblVersion;
  QLabel *lblCopyRight;
  QLabel *lblComment;
  QLabel *CompanyName;
  QLabel *lblCompanyName;
};

// Creates the About box owned by Owner, shows it modally and destroys it
// when it closes.
void ShowAboutBox(QWidget *Owner);
