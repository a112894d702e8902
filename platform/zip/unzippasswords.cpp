#include "unzippasswords.h"

#include "zipfunctions.h"

#include <openssl/crypto.h>

namespace pnvzip::unzip {

UnzipPasswords::UnzipPasswords(ZipQuery *query, QString archiveShown)
    : m_query(query), m_archiveShown(std::move(archiveShown))
{
}

bool UnzipPasswords::ask(const Entry &e, bool wrongBefore, Failure *f)
{
    QByteArray answer;
    const ZipQuery::PasswordAnswer given = m_query ? m_query->password(m_archiveShown, e.name, wrongBefore, &answer)
                                                   : ZipQuery::PasswordAnswer::Unanswered;
    switch (given) {
    case ZipQuery::PasswordAnswer::Given:
        m_password.take(answer.data(), size_t(answer.size()));
        answer.clear();
        m_answerFor = e.number;
        return true;
    case ZipQuery::PasswordAnswer::Cancelled:
        *f = {Cancelled, QStringLiteral("The extraction was cancelled at the password request for “%1”.").arg(e.name)};
        break;
    case ZipQuery::PasswordAnswer::Unanswered:
        *f = wrongBefore ? Failure{WrongPassword, QStringLiteral("The password given for “%1” is wrong.").arg(e.name)}
                         : Failure{EncryptedEntry, QStringLiteral("“%1” in the archive is encrypted (password protected), "
                                                                  "and no password was given.")
                                                       .arg(e.name)};
        break;
    }
    if (!answer.isEmpty())
        OPENSSL_cleanse(answer.data(), size_t(answer.size()));
    return false;
}

bool UnzipPasswords::read(const Entry &e, const std::function<bool(Failure *)> &restart,
                          const std::function<Outcome(Failure *)> &attempt, Failure *f)
{
    bool answered = m_answerFor == e.number || m_answerUnproven; // m_password is the query's answer for this entry
    Secret failedAnswer;
    Outcome failedHow = Outcome::Done;
    Failure dataFailure;
    for (int round = 0;; ++round) {
        if (round > 0 && !restart(f))
            return false;
        if (e.cipher != Cipher::None && m_password.empty()) {
            if (!ask(e, false, f))
                return false;
            answered = true;
        }
        const Outcome outcome = attempt(f);
        if (outcome == Outcome::Done) {
            if (e.cipher != Cipher::None) {
                m_answerUnproven = answered && e.cipher == Cipher::Traditional && e.size == 0;
                m_answerFor = NoEntry; // from now on the password is the one that worked
            }
            return true;
        }
        if (outcome == Outcome::Failed)
            return false;
        if (answered) {
            failedAnswer = m_password;
            failedHow = outcome;
            dataFailure = *f;
        }
        if (stopRequested(m_query, f) || !ask(e, answered, f))
            return false;
        if (answered && m_password == failedAnswer) {
            *f = failedHow == Outcome::Rejected
                ? Failure{WrongPassword, QStringLiteral("The password given for “%1” is wrong.").arg(e.name)}
                : dataFailure;
            return false;
        }
        answered = true;
    }
}

} // namespace pnvzip::unzip
