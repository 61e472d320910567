// The chat program's nickname file read from any content: the nickname it gives, saved
// again, reads back the same, in the file's one form of a quoted field and CR LF.
#include "chat/nicknamefile.h"
#include "platform/datafile.h"
#include "tests/fuzz/programfolder.h"

int fuzzOne(const uint8_t* data, size_t size)
{
    namespace fuzz = tellaran::fuzz;
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString folder = fuzz::programFolder();
    fuzz::writeFile(yarnit::nicknameFilePath(folder), content);
    const QByteArray nickname = yarnit::ReadNickname(folder);
    FUZZ_CHECK(!nickname.isEmpty());
    FUZZ_CHECK(yarnit::StorableNickname(nickname) == nickname);

    FUZZ_CHECK(yarnit::SaveNickname(folder, nickname));
    FUZZ_CHECK(yarnit::ReadNickname(folder) == nickname);
    FUZZ_CHECK(fuzz::readFile(yarnit::nicknameFilePath(folder)) ==
               tellaran::datafile::encodeRecord({tellaran::datafile::encodeText(nickname)}));
    FUZZ_CHECK(yarnit::EnsureNicknameFile(folder));
    FUZZ_CHECK(yarnit::ReadNickname(folder) == nickname);
    return 0;
}
