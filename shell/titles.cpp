#include "shell/identity.h"

QString BuildMainTitle() {
    return QString::fromLatin1(kProgramVersionText) + QStringLiteral(" - ") +
           QString::fromLatin1(ProductString()) + QStringLiteral("   [ ") +
           QString::fromLatin1(kBuildDate) + QStringLiteral(" ]");
}

QString BuildCompactTitle() {
    return QString::fromLatin1(kCompactVersionText) + QStringLiteral(" -   ") +
           QString::fromLatin1(ProductString()) + QStringLiteral("   - ") +
           QString::fromLatin1(kCompactBuildDate);
}

PictureChoice ChoosePictures(const QString& product) {
    const auto has = [&product](const char* code) { return product.contains(QLatin1String(code)); };
    if (has("TQ500") || has("BEX"))
        return {false, false};
    if (!has("TQ") && !has("K.") && !has("KP.") && !has("P.") && !has("MERIC") && !has("MERIL"))
        return {false, true};
    return {true, false};
}
