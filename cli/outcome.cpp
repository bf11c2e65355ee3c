#include "cli/outcome.h"

#include "session/search.h"

ExitCode ClassifyOutcome(std::int16_t searchResult, const QString& resultText) {
    switch (searchResult) {
    case kSearchPortUnusable:
        return kExitPortOpen;
    case kSearchNotFound:
        return kExitNotFound;
    case kSearchStopped:
        return kExitStopped;
    default:
        break;
    }
    if (resultText == QLatin1String(" Program Ok "))
        return kExitOk;
    if (resultText == QLatin1String(" User Abort !! "))
        return kExitStopped;
    if (resultText == QLatin1String(" not Response ") ||
        resultText == QLatin1String(" CHK Error !! "))
        return kExitTransfer;
    if (resultText == QLatin1String("Invalid Port Com"))
        return kExitPortOpen;
    // " Error !! ", " No Hex inside !! ", " Hex too Big !! ", "<board> - Preparation<x>",
    // and a run that ended without any line: never a success.
    return kExitRefused;
}

ExitCode CombinedExitCode(const int* codes, int count) {
    for (int i = 0; i < count; ++i)
        if (codes[i] != kExitOk)
            return static_cast<ExitCode>(codes[i]);
    return kExitOk;
}
