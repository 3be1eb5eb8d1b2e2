#include "remote/WebPassword.h"

#include <QCryptographicHash>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QStringList>

namespace {

const QString Scheme = QStringLiteral("pbkdf2-sha256");
// Enough to make guessing slow, little enough that a login does not hold up
// the main thread for long on a small computer.
constexpr int Iterations = 60000;
constexpr int SaltBytes = 16;
constexpr int HashBytes = 32;

QByteArray Derive(const QString &Password, const QByteArray &Salt, int Rounds) {
  return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, Password.toUtf8(), Salt,
                                            Rounds, HashBytes);
}

} // namespace

QString HashWebPassword(const QString &Password) {
  QByteArray Salt(SaltBytes, '\0');
  QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(Salt.data()), SaltBytes / 4);
  return QStringList{Scheme, QString::number(Iterations), QString::fromLatin1(Salt.toBase64()),
                     QString::fromLatin1(Derive(Password, Salt, Iterations).toBase64())}
      .join(u'$');
}

bool CheckWebPassword(const QString &Password, const QString &Stored) {
  const QStringList Parts = Stored.split(u'$');
  if (Parts.size() != 4 || Parts[0] != Scheme)
    return false;
  bool Ok = false;
  const int Rounds = Parts[1].toInt(&Ok);
  // A hand-edited count that would take minutes is refused, not run.
  if (!Ok || Rounds < 1 || Rounds > 10'000'000)
    return false;
  const QByteArray Salt = QByteArray::fromBase64(Parts[2].toLatin1());
  const QByteArray Want = QByteArray::fromBase64(Parts[3].toLatin1());
  if (Salt.isEmpty() || Want.size() != HashBytes)
    return false;
  const QByteArray Got = Derive(Password, Salt, Rounds);
  unsigned char Difference = 0;
  for (int I = 0; I < HashBytes; ++I)
    Difference |= static_cast<unsigned char>(Got[I] ^ Want[I]);
  return Difference == 0;
}
