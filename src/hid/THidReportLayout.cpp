#include "THidReportLayout.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

struct TGlobals {
    quint64 ReportSize = 0;
    quint64 ReportCount = 0;
    quint8 ReportID = 0;
};

constexpr quint64 kMaxBits = quint64(THidReportLayout::kMaxReportLength) * 8;
constexpr size_t kMaxPushDepth = 32;

enum : quint8 { kTypeMain = 0, kTypeGlobal = 1 };
enum : quint8 { kMainInput = 0x8, kMainOutput = 0x9 };
enum : quint8 {
    kGlobalReportSize = 0x7,
    kGlobalReportID = 0x8,
    kGlobalReportCount = 0x9,
    kGlobalPush = 0xA,
    kGlobalPop = 0xB
};

int lengthOf(const std::array<quint64, 256>& bits)
{
    const quint64 most = *std::max_element(bits.begin(), bits.end());
    if (most == 0) return 0;
    return int(std::min<quint64>((most + 7) / 8 + 1, THidReportLayout::kMaxReportLength));
}

} // namespace

THidReportLayout THidReportLayout::FromDescriptor(const QByteArray& descriptor)
{
    const auto* d = reinterpret_cast<const quint8*>(descriptor.constData());
    const qsizetype n = descriptor.size();

    std::array<quint64, 256> inputBits{};
    std::array<quint64, 256> outputBits{};
    TGlobals g;
    std::vector<TGlobals> stack;
    THidReportLayout layout;

    qsizetype i = 0;
    while (i < n) {
        const quint8 prefix = d[i];
        if (prefix == 0xFE) { // long item: size byte, tag byte, data
            if (i + 1 >= n) break;
            i += 3 + d[i + 1];
            continue;
        }
        const int size = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (i + 1 + size > n) break;
        quint32 value = 0;
        for (int k = 0; k < size; ++k) value |= quint32(d[i + 1 + k]) << (8 * k);
        const quint8 type = (prefix >> 2) & 3;
        const quint8 tag = prefix >> 4;
        i += 1 + size;

        if (type == kTypeMain && (tag == kMainInput || tag == kMainOutput)) {
            auto& bits = tag == kMainInput ? inputBits : outputBits;
            bits[g.ReportID] = std::min(bits[g.ReportID] + g.ReportSize * g.ReportCount, kMaxBits);
        } else if (type == kTypeGlobal) {
            switch (tag) {
            case kGlobalReportSize: g.ReportSize = std::min<quint64>(value, kMaxBits); break;
            case kGlobalReportCount: g.ReportCount = std::min<quint64>(value, kMaxBits); break;
            case kGlobalReportID:
                g.ReportID = quint8(value);
                layout.NumberedReports = true;
                break;
            case kGlobalPush:
                if (stack.size() < kMaxPushDepth) stack.push_back(g);
                break;
            case kGlobalPop:
                if (!stack.empty()) {
                    g = stack.back();
                    stack.pop_back();
                }
                break;
            default: break;
            }
        }
    }

    layout.InputReportLength = lengthOf(inputBits);
    layout.OutputReportLength = lengthOf(outputBits);
    return layout;
}
