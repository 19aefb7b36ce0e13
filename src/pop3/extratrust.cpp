#include "pop3/extratrust.h"

#include <QHostAddress>

#include <memory>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace pop3 {

namespace {

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct StoreFree {
    void operator()(X509_STORE* s) const { X509_STORE_free(s); }
};
struct ContextFree {
    void operator()(X509_STORE_CTX* c) const { X509_STORE_CTX_free(c); }
};
struct StackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

X509Ptr FromDer(const QSslCertificate& certificate) {
    const QByteArray der = certificate.toDer();
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.constData());
    return X509Ptr(d2i_X509(nullptr, &bytes, static_cast<long>(der.size())));
}

bool SetHost(X509_VERIFY_PARAM* param, const QString& host) {
    const QByteArray name = host.toUtf8();
    if (QHostAddress address; address.setAddress(host))
        return X509_VERIFY_PARAM_set1_ip_asc(param, name.constData()) == 1;
    return X509_VERIFY_PARAM_set1_host(param, name.constData(), static_cast<size_t>(name.size())) == 1;
}

} // namespace

bool VerifiesWithExtraCas(const QList<QSslCertificate>& chain, const QString& host,
                          const QList<QSslCertificate>& cas) {
    if (chain.isEmpty() || cas.isEmpty() || host.isEmpty())
        return false;
    const std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    const std::unique_ptr<STACK_OF(X509), StackFree> untrusted(sk_X509_new_null());
    const X509Ptr leaf = FromDer(chain.first());
    if (!store || !untrusted || !leaf)
        return false;
    for (const QSslCertificate& ca : cas)
        if (const X509Ptr anchor = FromDer(ca))
            X509_STORE_add_cert(store.get(), anchor.get()); // the store takes its own reference
    for (qsizetype i = 1; i < chain.size(); ++i)
        if (X509Ptr link = FromDer(chain.at(i)); link && sk_X509_push(untrusted.get(), link.get()) > 0)
            (void)link.release(); // the stack owns it now
    const std::unique_ptr<X509_STORE_CTX, ContextFree> context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store.get(), leaf.get(), untrusted.get()) != 1)
        return false;
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
    if (!SetHost(param, host))
        return false;
    return X509_verify_cert(context.get()) == 1;
}

} // namespace pop3
