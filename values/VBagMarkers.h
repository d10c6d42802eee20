// Internal header: attribute names with a fixed meaning in the text forms of bags, for their readers and writers.
#pragma once

#include "values/StPackedDictionaryKey.h"

namespace vela::VBagMarkers {

// "<>": the bag's character data.
inline constexpr StPackedDictionaryKey kCDataName("<>");
// Set by the JSON reader on a bag read from an object value, so that a single child is written back as an object.
inline constexpr StPackedDictionaryKey kObjectUnicName("____objectunic");
// Set by the JSON reader on the bag made for a scalar item of an array; the bag is written as that scalar alone.
inline constexpr StPackedDictionaryKey kFakeArrayElementName("____FakeArrayElement");
// Never written by the text writers.
inline constexpr StPackedDictionaryKey kPropertyNameInArrayName("____property_name_in_jsarray");
// The JSON property name that stands for the character data.
inline constexpr char kCDataJSONName[] = "__CDATA";

} // namespace vela::VBagMarkers
