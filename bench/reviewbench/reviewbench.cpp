// reviewbench: time the review list with 32,767 rows (the most a review holds).
// Runs with a real view attached and shown, so model signals reach a view as
// they do in the program. Usage: reviewbench [rows]   (QT_QPA_PLATFORM=offscreen works)
#include "common/appstate.h"
#include "pop3/pop3types.h"
#include "review/core/friendmatcher.h"
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"
#include "review/reviewlistview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTextStream>

#include <cstdio>

namespace {
QString RandomWord(QRandomGenerator& random, int length) {
    QString word;
    for (int i = 0; i < length; ++i)
        word.append(QChar(u'a' + random.bounded(26)));
    return word;
}

double Ms(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int rows = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 32767;
    QRandomGenerator random(20261207);

    QStringList friendList;
    for (int i = 0; i < 32767; ++i)
        friendList.append(RandomWord(random, 8) + QStringLiteral("@friends.example"));
    std::vector<pop3::Message> messages(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i) {
        pop3::Message& m = messages[static_cast<size_t>(i)];
        m.From = RandomWord(random, 6) + QLatin1Char(' ') + RandomWord(random, 9);
        m.FromAddr = (i % 10 == 0) ? friendList.at(i % friendList.size())
                                   : RandomWord(random, 7) + QStringLiteral("@example.org");
        m.Subject = RandomWord(random, 30);
        m.Date = QStringLiteral("Mon, %1 Dec 2026 %2:%3:00 +0000")
                     .arg(random.bounded(1, 29))
                     .arg(random.bounded(24), 2, 10, QLatin1Char('0'))
                     .arg(random.bounded(60), 2, 10, QLatin1Char('0'));
        m.Size = random.bounded(200, 5000000);
        m.Recipients = random.bounded(0, 3000);
    }

    AppState state;
    ReviewController controller(state, nullptr);
    ReviewListView view(controller);
    view.resize(1100, 700);
    view.show();
    QCoreApplication::processEvents();

    QTextStream out(stdout);
    out << "rows: " << rows << ", friends: " << friendList.size() << '\n';

    QElapsedTimer timer;
    timer.start();
    const FriendMatcher friends(friendList);
    QVector<ReviewItem> items;
    items.reserve(rows);
    for (int i = 0; i < rows; ++i)
        items.append(MakeReviewItem(messages[static_cast<size_t>(i)], i + 1, friends));
    const double build = Ms(timer);
    timer.restart();
    controller.model()->setItems(std::move(items));
    QCoreApplication::processEvents();
    const double fill = Ms(timer);
    out << QStringLiteral("build rows (friend test, texts): %1 ms\n").arg(build, 0, 'f', 1);
    out << QStringLiteral("fill list and paint:             %1 ms\n").arg(fill, 0, 'f', 1);

    for (int column = 0; column < ReviewItem::ColumnCount; ++column) {
        timer.restart();
        controller.model()->sort(column);
        QCoreApplication::processEvents();
        out << QStringLiteral("sort by %1 %2 ms\n")
                   .arg(ReviewModel::HeaderText(column) + QLatin1Char(':'), -9)
                   .arg(Ms(timer), 8, 'f', 1);
    }
    timer.restart();
    controller.CheckNone();
    QCoreApplication::processEvents();
    out << QStringLiteral("Check None:       %1 ms\n").arg(Ms(timer), 8, 'f', 1);
    timer.restart();
    controller.CheckAll();
    QCoreApplication::processEvents();
    out << QStringLiteral("Check All:        %1 ms\n").arg(Ms(timer), 8, 'f', 1);
    timer.restart();
    controller.model()->clear();
    QCoreApplication::processEvents();
    out << QStringLiteral("clear:            %1 ms\n").arg(Ms(timer), 8, 'f', 1);
    return 0;
}
