// The settings file read from any content: a time rewrite changes the stored time and
// nothing else, and the options as loaded, saved again, load the same and keep the time.
#include "engine/settings/settingsfile.h"
#include "tests/fuzz/programfolder.h"

using namespace tellaran;

int fuzzOne(const uint8_t* data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    const SettingsFile file(fuzz::programFolder());
    fuzz::writeFile(file.path(), content);
    const SettingsRecord options = file.LoadSettings();
    const QByteArray storedTime = file.ReadStoredTime();
    FUZZ_CHECK(IsStorableText(storedTime));

    FUZZ_CHECK(file.StoreConnectionTime("01:02:03"));
    FUZZ_CHECK(file.LoadSettings() == options);
    FUZZ_CHECK(file.ReadStoredTime() == "01:02:03");

    fuzz::writeFile(file.path(), content);
    FUZZ_CHECK(file.SaveSettings(options));
    FUZZ_CHECK(file.LoadSettings() == options);
    FUZZ_CHECK(file.ReadStoredTime() == storedTime);
    // A saved file is one the program could have written: saving it again changes nothing.
    const QByteArray saved = fuzz::readFile(file.path());
    FUZZ_CHECK(file.SaveSettings(options));
    FUZZ_CHECK(fuzz::readFile(file.path()) == saved);
    return 0;
}
