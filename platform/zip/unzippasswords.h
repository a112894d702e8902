#pragma once
// The passwords of an extraction: when the user is asked, and what a wrong answer does.
//
// Guarantees: the password that opened the previous encrypted entry is tried first,
// silently, so entries sharing a password are asked for once; a password the check rejects
// is asked for again, saying that it was wrong, and the same answer given twice in a row
// ends the extraction (pnvzip::WrongPassword). Under traditional encryption a password can
// pass its one-byte check and still be wrong: data that then fails to decode or to match its
// CRC-32 counts as a wrong password once; given again, the entry is damaged. The answer is
// kept only as a Secret, wiped when replaced or at the end.

#include "unzipentry.h"
#include "unzipsecrets.h"

#include <functional>

namespace pnvzip::unzip {

class UnzipPasswords
{
public:
    UnzipPasswords(ZipQuery *query, QString archiveShown);

    // Asks for the password of `e`; false with the failure set when none is given.
    bool ask(const Entry &e, bool wrongBefore, Failure *f);
    // The password to try next.
    const Secret &current() const { return m_password; }

    // Reads the entry through `attempt` (one pass with the current password), asking for
    // the password as needed; before each pass after the first, `restart` undoes what the
    // one before wrote.
    bool read(const Entry &e, const std::function<bool(Failure *)> &restart,
              const std::function<Outcome(Failure *)> &attempt, Failure *f);

private:
    ZipQuery *m_query;
    QString m_archiveShown;
    // The password that opened the last encrypted entry (tried first on the next one), and
    // the entry it was asked for when it is the query's fresh answer.
    Secret m_password;
    quint64 m_answerFor = NoEntry;
    // The query's last answer has opened only empty entries under traditional encryption,
    // whose one-byte check lets some wrong passwords through: it is not proven yet, so a
    // failure on the next entry still tells the user that the answer was wrong.
    bool m_answerUnproven = false;
};

} // namespace pnvzip::unzip
