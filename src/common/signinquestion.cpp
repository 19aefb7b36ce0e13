#include "common/signinquestion.h"

#include "common/messagebox.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace ui {

signin::AskSignIn BrowserSignInQuestion(QWidget* parent, const QString& account) {
    QPointer<QWidget> owner = parent;
    const bool owned = parent != nullptr;
    return [owner, owned, account](const QString& reason, std::function<void(bool)> answer) {
        if (owned && !owner)
            return;
        QObject* context = owned ? static_cast<QObject*>(owner.data()) : QCoreApplication::instance();
        // From the event loop: the box is modal and must not open inside a network callback.
        QTimer::singleShot(0, context, [owner, account, reason, answer = std::move(answer)] {
            const QString text =
                QObject::tr("Sign in to %1 in your browser?").arg(account) + QStringLiteral("\r\n\r\n") +
                reason + QStringLiteral("\r\n\r\n") +
                QObject::tr(
                    "Tidemarsh opens the provider's sign-in page and waits for it (5 minutes at most). "
                    "Your password goes to the provider only, never to Tidemarsh.");
            const auto pressed = ShowMessage({owner, MessageIcon::Question, QObject::tr("Sign In"), text,
                                              QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok});
            answer(pressed == QMessageBox::Ok);
        });
    };
}

} // namespace ui
