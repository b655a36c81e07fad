#include "play/DM.h"

#include <memory>

#include "resources/SpriteSheet.h"

namespace play {

namespace {
std::unique_ptr<TDM> dmOwner;
}

TDM* DM = nullptr;

TDM::TDM() {
    const auto sheet = resources::SpriteSheetDib();
    DXDIB1.DIB().LoadFromStream(sheet.data(), sheet.size());
}

void CreateDM() {
    if (dmOwner) return;
    dmOwner = std::make_unique<TDM>();
    DM = dmOwner.get();
}

void DestroyDM() {
    DM = nullptr;
    dmOwner.reset();
}

}  // namespace play
