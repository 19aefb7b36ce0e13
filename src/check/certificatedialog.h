#pragma once

#include "pop3/pop3types.h"

#include <QDialog>

class QPushButton;

// frmCertificate: a server's certificate could not be verified. Shows why and the
// certificate, and lets the user trust exactly this certificate for this server.
// Accepted means "trust it"; Close is the default.
class CertificateDialog : public QDialog {
    Q_OBJECT
public:
    CertificateDialog(const QString& failedAction, const pop3::TlsProblem& problem, QWidget* parent);

private:
    QPushButton* m_trust = nullptr;
    QPushButton* m_close = nullptr;
};

// After a connection failed with code 14: offers the exception when there is a
// certificate to trust (and stores it when the user agrees), otherwise reports
// the error with its reason. Returns true when an exception was stored, so the
// caller may try again.
bool HandleCertificateProblem(QWidget* owner, const QString& programFolder, const QString& failedAction,
                              const pop3::TlsProblem& problem);
