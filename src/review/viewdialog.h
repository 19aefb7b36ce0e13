#pragma once

#include <QDialog>
#include <memory>

struct ReviewItem;
namespace Ui {
class ViewDialog;
}

// frmView: one message's row texts and its saved header text, read-only.
// Everything shown comes from a server and is shown as plain text.
class ViewDialog : public QDialog {
    Q_OBJECT
public:
    ViewDialog(const ReviewItem& item, const QString& headerText, QWidget* parent);
    ~ViewDialog() override;

private:
    std::unique_ptr<Ui::ViewDialog> m_ui;
};
