#include "catalogue/product.h"

bool UsesCompactLayout(const QString& product) {
    return product.contains(QLatin1String("HGJ")) || product.contains(QLatin1String("KFN"));
}
