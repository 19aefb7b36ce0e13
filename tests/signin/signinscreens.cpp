// Pictures of the sign-in choice for docs/, on a real X display (not a test):
//   Xvfb :N -screen 0 1024x768x24 &  DISPLAY=:N signinscreens OUTPUT_FOLDER
#include "accounts/accounteditor.h"
#include "accounts/wizarddialog.h"
#include "common/signinquestion.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

namespace {

void ShootWhenShown(QDialog& dialog, const QString& file) {
    QTimer::singleShot(900, &dialog, [&dialog, file] {
        QProcess::execute(u"import"_s, {u"-window"_s, QString::number(dialog.winId()), file});
        dialog.done(QDialog::Rejected);
    });
    dialog.exec();
}

template <typename T> T* Child(QWidget* parent, const char* name) {
    return parent->findChild<T*>(QLatin1String(name));
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : u"."_s;
    QTemporaryDir dir;
    AppState state;
    state.ProgramFolder = dir.path() + u'/';
    QTreeWidget list;
    QPushButton edit, del;

    AccountEditor oauth(state, 0, &list, &edit, &del, nullptr);
    Child<QLineEdit>(&oauth, "txtAccount")->setText(u"Outlook"_s);
    Child<QLineEdit>(&oauth, "txtLogin")->setText(u"me@outlook.com"_s);
    Child<QLineEdit>(&oauth, "txtServer")->setText(u"outlook.office365.com"_s);
    Child<QComboBox>(&oauth, "cboSignIn")->setCurrentIndex(1);
    Child<QLineEdit>(&oauth, "txtClientId")->setText(u"00000000-0000-0000-0000-000000000000"_s);
    ShootWhenShown(oauth, folder + u"/signin-oauth2.png"_s);

    AccountEditor kept(state, 0, &list, &edit, &del, nullptr);
    Child<QLineEdit>(&kept, "txtAccount")->setText(u"Home"_s);
    Child<QLineEdit>(&kept, "txtLogin")->setText(u"me@example.org"_s);
    Child<QLineEdit>(&kept, "txtPassword")->setText(u"secret"_s);
    Child<QLineEdit>(&kept, "txtServer")->setText(u"mail.example.org"_s);
    Child<QCheckBox>(&kept, "chkKeyring")->setChecked(true);
    ShootWhenShown(kept, folder + u"/signin-password.png"_s);

    AccountEditor password(state, 0, &list, &edit, &del, nullptr);
    Child<QLineEdit>(&password, "txtAccount")->setText(u"Home"_s);
    Child<QLineEdit>(&password, "txtLogin")->setText(u"me@example.org"_s);
    Child<QLineEdit>(&password, "txtPassword")->setText(u"secret"_s);
    Child<QLineEdit>(&password, "txtServer")->setText(u"mail.example.org"_s);
    Child<QComboBox>(&password, "cboSignIn")->setCurrentIndex(2);
    Child<QLineEdit>(&password, "txtCommand")->setText(u"pass show mail/home"_s);
    ShootWhenShown(password, folder + u"/signin-command.png"_s);

    WizardDialog wizard(state, nullptr);
    for (const char* entry : {"txtAccount", "txtLogin", "txtPassword"}) {
        Child<QLineEdit>(&wizard, entry)->setText(u"me@gmail.com"_s);
        Child<QPushButton>(&wizard, "cmdNext")->click();
    }
    Child<QLineEdit>(&wizard, "txtServer")->setText(u"pop.gmail.com"_s);
    Child<QComboBox>(&wizard, "cboSignIn")->setCurrentIndex(1);
    Child<QComboBox>(&wizard, "cboProvider")->setCurrentIndex(1);
    Child<QLineEdit>(&wizard, "txtClientId")->setText(u"123456789012-example.apps.googleusercontent.com"_s);
    ShootWhenShown(wizard, folder + u"/signin-wizard.png"_s);
    return 0;
}
