#include "tool/app/CarriedBlobs.h"

namespace talbo::tesk::vorta {

namespace {
std::span<const CarriedBlob> g_table;
}

void SetCarriedBlobTable(std::span<const CarriedBlob> table) {
    g_table = table;
}

const CarriedBlob* FindCarriedBlob(std::wstring_view type, int number) {
    for (const CarriedBlob& blob : g_table) {
        if (blob.type == type && blob.number == number) {
            return &blob;
        }
    }
    return nullptr;
}

}  // namespace talbo::tesk::vorta
