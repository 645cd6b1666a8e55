#include "CvExceptions.h"

#include <exception>

QString CurrentExceptionText()
{
    try {
        throw;
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("unknown exception");
    }
}
