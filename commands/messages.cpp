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

MessageBoxRequest ReadMessageBoxRequest(const wchar_t* args)
{
    ArgumentPieces parts = CutArgument(args, 3);
    MessageBoxRequest request = {parts.pieces[0], {}, DEFAULT_MESSAGE_TYPE};
    if (parts.count > 1)
        request.caption = parts.pieces[1];
    if (parts.count > 2)
        request.type = static_cast<UINT>(_wtol(parts.pieces[2].start));
    return request;
}

// MSGX text[,caption[,type]]: shows a message box owned by the console and returns the
// id of the button that closed it (0 when it could not be shown). The caption defaults to
// "Varnolt" and the type to an information box; the box always comes to the foreground.
DWORD ShowMessageBox(const wchar_t* args)
{
    MessageBoxRequest request = ReadMessageBoxRequest(args);
    PieceTexts texts;
    const wchar_t* text = AddPieceText(texts, request.text);
    const wchar_t* caption = request.caption.start ? AddPieceText(texts, request.caption) : MESSAGE_CAPTION;
    if (!text || !caption)
        return 0;
    return static_cast<DWORD>(outwardCalls.messageBox(consoleWindow, text, caption, request.type | MB_SETFOREGROUND));
}

// PLAY [!][$][*][sound]: '!' plays without waiting, '$' names a system sound, '*' loops;
// the marks may come in any order. An empty name stops the sound. 0 or 1 for failure.
DWORD PlaySoundFile(const wchar_t* args)
{
    DWORD flags = SND_FILENAME;
    for (DWORD flag; (flag = SoundMarkFlag(*args)) != 0; ++args)
        flags |= flag;
    DWORD answer = AnnounceAction(ChangeKind::PlaySound, args, nullptr);
    if (answer != ERROR_SUCCESS)
        return ResultOfUntakenAction(answer);
    return outwardCalls.playSound(*args ? args : nullptr, nullptr, flags) ? ERROR_SUCCESS : 1;
}
