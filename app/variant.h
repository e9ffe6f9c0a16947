#pragma once
// The settings in which the two programs differ, chosen at build time.

#include <string_view>

#include "resources/resource_ids.h"
#include "update/update_procedure.h"

namespace orvel {

struct Variant {
  std::string_view title;     // window caption, message-box caption
  int logoId = 0;             // bitmap painted into the logo frame
  bool hideMakerName = false; // maker name static hidden on every normal paint
  VariantRules rules;
};

inline constexpr Variant kOrvelVariant{"Orvel", kOrvelLogoId, false, VariantRules{true}};
inline constexpr Variant kOrvelinVariant{"Orvelin", kOrvelinLogoId, true, VariantRules{false}};

}  // namespace orvel
