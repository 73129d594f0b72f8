// VortaFWUpdateTool: the wizard without arguments, the command-line rewrite of one device with.
#include <span>

#include "tool/app/CVortaFWUpdateToolUIApp.h"
#include "tool/app/CarriedBlobs.h"

namespace talbo::tesk::vorta {
std::span<const CarriedBlob> GeneratedCarriedBlobs();
}

int main(int argc, char** argv) {
    namespace tv = talbo::tesk::vorta;
    tv::SetCarriedBlobTable(tv::GeneratedCarriedBlobs());
    tv::CVortaFWUpdateToolUIApp app;
    return app.Run(tv::ArgumentText(argc, argv));
}
