// friendsbench: time frmFriends with 32,767 friends (the most Friends.dat holds).
// Usage: friendsbench [friends]   (QT_QPA_PLATFORM=offscreen works)
#include "common/appstate.h"
#include "common/messagebox.h"
#include "friends/friendsdialog.h"
#include "friends/friendsmodel.h"
#include "store/friendsstore.h"
#include "store/recordfile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTreeView>

namespace {
double Ms(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int friends = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : RecordFile::MaxRecords;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    AppState state;
    state.ProgramFolder = dir.path() + QLatin1Char('/');
    QStringList addresses;
    for (int i = 0; i < friends; ++i)
        addresses.append(QStringLiteral("friend%1@example%2.org").arg(i).arg(i % 97));
    FriendsStore(state.ProgramFolder).AppendMany(addresses);
    ui::SetMessageBoxHandler([](const ui::MessageRequest&) { return QMessageBox::Ok; });

    QTextStream out(stdout);
    out << "friends: " << friends << '\n';
    for (int round = 1; round <= 3; ++round) {
        QElapsedTimer timer;
        timer.start();
        FriendsDialog dialog(state, nullptr);
        dialog.show();
        QCoreApplication::processEvents();
        const double open = Ms(timer);

        auto* list = dialog.findChild<QTreeView*>(QStringLiteral("ListView1"));
        const int middle = dialog.model()->rowCount() / 2;
        list->selectionModel()->setCurrentIndex(
            dialog.model()->index(middle), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        timer.restart();
        dialog.findChild<QPushButton*>(QStringLiteral("cmdDelete"))->click();
        QCoreApplication::processEvents();
        const double remove = Ms(timer);
        out << "round " << round << ": open and show " << QString::number(open, 'f', 1) << " ms, delete one "
            << QString::number(remove, 'f', 1) << " ms, rows left " << dialog.model()->rowCount() << '\n';
        out.flush();
    }
    return 0;
}
