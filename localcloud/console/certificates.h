#pragma once

#include <QString>

// The console's own certificate authority and its server certificate, kept
// in the state folder. Made on the first start (a new key pair each, EC
// P-256), reused afterwards, so a client told once where ca.pem is keeps
// trusting the console over restarts.
struct ConsoleCertificates
{
    QString caCertFile;     // <dir>/ca.pem: what clients trust
    QString serverCertFile; // <dir>/server.pem: for 127.0.0.1 and localhost
    QString serverKeyFile;  // <dir>/server.key

    // False, with the reason, when the files can be neither read nor made.
    static bool ensure(const QString &dir, ConsoleCertificates *out, QString *error);
};
