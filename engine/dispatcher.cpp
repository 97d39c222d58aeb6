#include "engine/engine.h"

namespace {

const ScriptLanguage NO_LANGUAGE = {};
const ScriptLanguage* installedLanguage = &NO_LANGUAGE;

} // namespace

const ScriptLanguage* InstallScriptLanguage(const ScriptLanguage* language)
{
    const ScriptLanguage* previous = installedLanguage;
    installedLanguage = language ? language : &NO_LANGUAGE;
    return previous;
}

const ScriptLanguage& CurrentScriptLanguage()
{
    return *installedLanguage;
}

// Recognises the line's keyword (ASCII case ignored) and runs its handler; a line without
// one goes to the language's handler of such lines.
DWORD DispatchCommand(const wchar_t* line, ScriptContext& context)
{
    const ScriptLanguage& language = *installedLanguage;
    for (size_t i = 0; i < language.keywordCount; ++i) {
        const KeywordEntry& row = language.keywords[i];
        if (MatchPrefixNoCase(line, row.name) >= 4)
            return row.handler(line, SkipBlanks(line + 4), context);
    }
    return language.noKeyword ? language.noKeyword(line, line, context) : ERROR_CALL_NOT_IMPLEMENTED;
}
