#include "commands/commands.h"
#include "base/changes.h"
#include "platform/device_calls.h"
#include <mmsystem.h>
#include <cstdlib>

#undef PlaySound        // the change kind, not the platform's function (sounds go through outwardCalls)

namespace {

constexpr wchar_t MESSAGE_CAPTION[] = L"Varnolt";
constexpr UINT DEFAULT_MESSAGE_TYPE = MB_ICONINFORMATION;

struct SoundMark {
    wchar_t mark;
    DWORD flag;
};

constexpr SoundMark SOUND_MARKS[] = {
    {L'!', SND_ASYNC},
    {L'$', SND_ALIAS},
    {L'*', SND_LOOP},
};

DWORD SoundMarkFlag(wchar_t unit)
{
    for (const auto& row : SOUND_MARKS)
        if (row.mark == unit)
            return row.flag;
    return 0;
}

} // namespace

// MSGX text[,caption[,type]]: shows a message box owned by the console and returns the
// id of the button that closed it (0 when it could not be shown). The caption defaults to
// "Varnolt" and the type to an information box; the box always comes to the foreground.
DWORD ShowMessageBox(wchar_t* args)
{
    const wchar_t* caption = MESSAGE_CAPTION;
    UINT type = DEFAULT_MESSAGE_TYPE;
    wchar_t* separator = wcschr(args, ARG_SEPARATOR);
    if (separator) {
        *separator = 0;
        caption = separator + 1;
        wchar_t* typeText = wcschr(separator + 1, ARG_SEPARATOR);
        if (typeText) {
            *typeText++ = 0;
            type = static_cast<UINT>(_wtol(typeText));
        }
    }
    return static_cast<DWORD>(outwardCalls.messageBox(consoleWindow, args, caption, type | MB_SETFOREGROUND));
}

// PLAY [!][$][*][sound]: '!' plays without waiting, '$' names a system sound, '*' loops;
// the marks may come in any order. An empty name stops the sound. 0 or 1 for failure.
DWORD PlaySoundFile(wchar_t* args)
{
    DWORD flags = SND_FILENAME;
    for (DWORD flag; (flag = SoundMarkFlag(*args)) != 0; ++args)
        flags |= flag;
    DWORD answer = AnnounceAction(ChangeKind::PlaySound, args, nullptr);
    if (answer != ERROR_SUCCESS)
        return ResultOfUntakenAction(answer);
    return outwardCalls.playSound(*args ? args : nullptr, nullptr, flags) ? ERROR_SUCCESS : 1;
}
