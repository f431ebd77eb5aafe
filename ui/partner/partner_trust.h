// The one exception to the browser engine's own certificate checks: a deployment whose
// partner sign-in host has a certificate from the extra CA the program was given (--ca-file).
// The window trusts that CA for that host only, over https only; every other host, and
// every chain that does not verify against the CA with the host's name, stays refused.
#pragma once

#include <QList>
#include <QSslCertificate>
#include <QUrl>

#include <string>

// True when `chain` (leaf first, as the engine saw it for `url`) may be accepted; `why`
// says why not otherwise.
bool PartnerCertificateTrusted(const QUrl& url, const QList<QSslCertificate>& chain,
                               std::string& why);
