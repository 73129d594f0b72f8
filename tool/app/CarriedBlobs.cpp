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

std::string_view CarriedImageSha256() {
    const CarriedBlob* image = FindCarriedBlob(kBlobTypeUpdateFile, kBlobUpdateImage);
    return image != nullptr ? image->sha256 : std::string_view();
}

}  // namespace talbo::tesk::vorta
