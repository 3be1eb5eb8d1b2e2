#pragma once
// The web page's password as it is kept: a salted PBKDF2 hash (HMAC-SHA256)
// in the text form "pbkdf2-sha256$ITERATIONS$SALT$HASH", salt and hash in
// Base64. The clear text is never stored, and checking compares in time
// that does not depend on where the hashes differ.
//
// Pure functions but for the salt, which comes from the system's random
// source; any thread.

#include <QString>

// A new hash of Password with a fresh random salt.
QString HashWebPassword(const QString &Password);
// Password matches Stored (a text of HashWebPassword); false for a stored
// text that is not of that form.
bool CheckWebPassword(const QString &Password, const QString &Stored);
