#pragma once

#include "core/IRefCountable.h"
#include "core/VRefPtr.h"
#include "values/StPackedDictionaryKey.h"
#include "values/VPackedDictionary.h"
#include "values/VValue.h"
#include "values/VValueInfo.h"

#include <memory>
#include <vector>

namespace vela {

class IBaggable;
class VBagArray;
class VJSONObject;
class VUUID;
class VTime;
class VDuration;

// The common record: a tree whose nodes carry named scalar attributes and named lists of child bags. Attribute
// and element names are separate namespaces of UTF-8 names of at most 255 bytes, compared exactly; entries keep
// their insertion order. A value of kind 200, counted (1 at creation); a bag and its children belong to one
// thread at a time (even reads fill caches). Positions are 1-based.
class VValueBag : public VValue, public IRefCountable {
public:
    static constexpr uint16 kKind = 200;
    static const VValueInfo_default<VValueBag, kKind> sInfo;

    using StKeyPath = std::vector<StPackedDictionaryKey>;

    // One row of an ordering table for SortElements: an element name and up to 10 child element names (the
    // list ends at the first null). A table ends with a row whose element name is null.
    struct StBagElementsOrdering {
        const StPackedDictionaryKey* fElementName;
        const StPackedDictionaryKey* fChildren[10];
    };

    // Empty, not null.
    VValueBag() noexcept;
    // A deep copy (attributes, and a copy of every list and bag); the source's flags plus dirty. Throws
    // std::bad_alloc when memory runs out.
    VValueBag(const VValueBag& other);
    VValueBag& operator=(const VValueBag&) = delete;
    ~VValueBag() override;

    const VValueInfo* GetValueInfo() const override { return &sInfo; }
    // A new deep copy (count 1, the caller releases it); null when memory runs out.
    VValueBag* Clone() const override;
    // Only with a process object (otherwise length becomes 0): one line "name = value" per attribute, then per
    // element name "=======", "<count> <name> :" and each bag's dump after "--", as UTF-16 cut to length / 2
    // units; length becomes the bytes written. Answers UTF-16.
    CharSet DebugDump(char* buffer, int& length) const override;

    // Removes every attribute and element.
    void Destroy() noexcept;
    // False as soon as there is an element name (even with an empty list); otherwise true without attributes or,
    // with ignoreJSONMarkers, when the only attributes are "____objectunic" and "____property_name_in_jsarray".
    bool IsEmpty(bool ignoreJSONMarkers = false) const;
    // Same attribute names in the same order with the same kinds and stored data (null flags are not stored),
    // and the same element names in the same order with lists of equal bags.
    bool EqualTo(const VValueBag& other) const;

    // "<>": the attribute holding the bag's character data.
    static const StPackedDictionaryKey& CDataAttributeName() noexcept;

    // ---- Attributes
    // Sets (replaces whatever kind the name held) or adds the attribute. Nothing happens when memory runs out.
    void SetAttribute(const StPackedDictionaryKey& key, const VValueSingle& value);
    // Adds an attribute whose name the bag does not hold yet, as SetAttribute would, without looking for the name
    // first: for a record being filled with distinct names (the look-up was a tenth of a log record's making).
    void AppendNewAttribute(const StPackedDictionaryKey& key, const VValueSingle& value) {
        fAttributes.Append(key, value);
    }
    // out receives the attribute converted to its kind; false (out untouched) when absent.
    bool GetAttribute(const StPackedDictionaryKey& key, VValueSingle& out) const;
    bool AttributeExists(const StPackedDictionaryKey& key) const;
    void RemoveAttribute(const StPackedDictionaryKey& key) { fAttributes.Clear(key); }
    int32 GetAttributesCount() const noexcept { return int32(fAttributes.GetCount()); }
    // The n-th attribute (1-based; borrowed, valid until the attribute changes), its name into outName when
    // given; null out of range or for a stored kind without descriptor.
    const VValueSingle* GetNthAttribute(int32 n, VString* outName) const;
    // The attribute dictionary, for the stored forms and tests.
    const VPackedDictionary_with_backstore<VPackedValue_VValueSingle>& GetAttributes() const noexcept {
        return fAttributes;
    }

    // Typed setters: a value of the matching kind (not null).
    void SetBool(const StPackedDictionaryKey& key, bool value);
    void SetByte(const StPackedDictionaryKey& key, int8 value);
    void SetWord(const StPackedDictionaryKey& key, int16 value);
    void SetLong(const StPackedDictionaryKey& key, int32 value);
    void SetLong8(const StPackedDictionaryKey& key, int64 value);
    void SetReal(const StPackedDictionaryKey& key, double value);
    void SetString(const StPackedDictionaryKey& key, const VString& value);
    void SetVUUID(const StPackedDictionaryKey& key, const VUUID& value);
    void SetTime(const StPackedDictionaryKey& key, const VTime& value);
    void SetDuration(const StPackedDictionaryKey& key, const VDuration& value);
    // Typed getters: the attribute converted to the type; false, with out cleared (0, false, empty, a cleared
    // identifier), when absent.
    bool GetBool(const StPackedDictionaryKey& key, bool& out) const;
    bool GetLong(const StPackedDictionaryKey& key, int32& out) const;
    bool GetLong8(const StPackedDictionaryKey& key, int64& out) const;
    bool GetReal(const StPackedDictionaryKey& key, double& out) const;
    bool GetString(const StPackedDictionaryKey& key, VString& out) const;
    bool GetVUUID(const StPackedDictionaryKey& key, VUUID& out) const;
    bool GetTime(const StPackedDictionaryKey& key, VTime& out) const;
    bool GetDuration(const StPackedDictionaryKey& key, VDuration& out) const;

    // Appends text to the character data ("<>"); a stored value of another kind first becomes its text.
    void AppendToCData(const VString& text);

    // ---- Elements
    // The list of key, borrowed; null when absent.
    VBagArray* GetElements(const StPackedDictionaryKey& key) const;
    // Stores array (retained; the replaced list is released). A null array leaves the name without list.
    void SetElements(const StPackedDictionaryKey& key, VBagArray* array);
    int32 GetElementNamesCount() const noexcept;
    // The list of the n-th element name (1-based, borrowed), its name into outName when given; out of range:
    // null and outName cleared.
    VBagArray* GetNthElementName(int32 n, VString* outName) const;
    // Appends bag (retained) to the list of key, made when missing; a null bag is ignored.
    void AddElement(const StPackedDictionaryKey& key, VValueBag* bag);
    // Saves object into a new bag (IBaggable::SaveToBag) and adds it under the kind it names when that succeeds;
    // answers SaveToBag's error (VE_OK for a null object, which adds nothing).
    VError AddElement(const IBaggable* object);
    // Releases the list of key and removes the name.
    void RemoveElements(const StPackedDictionaryKey& key);
    // Makes bag (retained) the only member of the list of key and answers true; false when it already is. A null
    // bag removes the name and answers false.
    bool ReplaceElement(const StPackedDictionaryKey& key, VValueBag* bag);
    // The only bag of the only element name (borrowed), its name into outName; null (outName cleared) otherwise.
    VValueBag* GetUniqueElementAnyKind(VString& outName) const;
    // The one child under elementKey whose attribute attributeKey equals value (a child without it matches the
    // kind's cleared value), with a reference for the caller; null when none or several match.
    VValueBag* RetainUniqueElementWithAttribute(const StPackedDictionaryKey& elementKey,
                                                const StPackedDictionaryKey& attributeKey,
                                                const VValueSingle& value) const;

    // ---- Paths: element names separated by "/"
    // One owned key per segment; an empty segment inside or before a leading "/" is the empty name, a trailing
    // empty segment gives none; a segment over 255 UTF-8 bytes is cut to the whole characters that fit.
    static void GetKeysFromPath(const VString& path, StKeyPath& keys);
    // The same over UTF-8 bytes, the keys borrowing path (which must outlive them).
    static void GetKeysFromUTF8PathNoCopy(const char* path, StKeyPath& keys);
    // Follows the first bag of each name (borrowed); this bag for an empty path, null where a step is missing.
    VValueBag* GetUniqueElementByPath(const StKeyPath& keys) const;
    VValueBag* GetUniqueElementByPath(const VString& path) const;
    // The same walk, storing a new empty bag (ReplaceElement) where a step is missing; the last bag, borrowed.
    VValueBag* GetElementByPathAndCreateIfDontExists(const StKeyPath& keys);
    // Empty path: false. One name: ReplaceElement here. Otherwise with a bag, the parent is found or made and the
    // last name replaced there (its answer); with null, the last name is removed from the parent when it exists
    // (true).
    bool ReplaceElementByPath(const StKeyPath& keys, VValueBag* bag);

    // ---- Merging (deep: no child is shared afterwards). Merging a bag with itself merges with a copy of it.
    // Sets every attribute of other here and appends a copy of each of its children; false when a copy could
    // not be made (the merge stops there). A null other answers true.
    bool UnionClone(const VValueBag* other);
    // As UnionClone, except that a name with exactly one child on both sides overrides that child recursively.
    bool Override(const VValueBag* other);

    // ---- Sorting (the order of element names, which the output forms follow)
    // Applies the table row of key to this bag (nothing when table is null or has no such row).
    void SortElements(const StPackedDictionaryKey& key, const StBagElementsOrdering* table);
    // Ranks the names by their position in row (unlisted: 0) and sorts them when a listed name directly follows
    // a name of higher rank; then applies the rows of table to the children, by their element names.
    void _SortElements(const StBagElementsOrdering& row, const StBagElementsOrdering* table);

    // ---- Stored form
    // A flags byte (1: attributes follow, 2: elements follow), the attribute dictionary's stream form, the
    // element names' keys section, and for each name its count of bags and each bag in this form. Reading (into
    // a bag that is then replaced) refuses corrupt data (VE_STREAM_CORRUPTED), nests at most
    // kStoredDataMaxDepth bags deep and leaves the bag empty on any error, which it answers.
    VError WriteToStreamMinimal(VStream* stream, bool withHash) const;
    VError ReadFromStreamMinimal(VStream* stream);

    // ---- Outer forms: 'VBAG' binary (VValueBagStream.cpp), XML text (VValueBagXML.cpp), JSON text
    // (VValueBagJSONText.cpp). Trees nested deeper than kStoredDataMaxDepth bags are neither read nor written.

    // The 32-bit signature 0x56424147 ('VBAG'), the 16-bit version 1 and a reserved 16-bit 0, in the stream's byte
    // order, then the minimal form with hash indexes. param is not used. A tree too deep is refused
    // (VE_INVALID_PARAMETER raised and made the stream's error). Answers the stream's error.
    VError WriteToStream(VStream* stream, int32 param = 0) const override;
    // Replaces the content with the bag of that form. Another signature is library error 207, another version 212
    // (raised and made the stream's error); corrupt data as ReadFromStreamMinimal. Any error, which it answers,
    // leaves the bag empty. param is not used.
    VError ReadFromStream(VStream* stream, int32 param = 0) override;
    // Replaces the content with a bag of the older layout: attribute names as a string array (count, then per
    // name the marker 2 and the string's stream form, or another marker for no name), the 32-bit count of values
    // and per value its 32-bit kind and stream form; then element names the same way, their count and per name a
    // list in its minimal form. Counts that differ from the names', kinds without descriptor or that hold no single
    // datum are refused (VE_STREAM_CORRUPTED). Any error, which it answers, leaves the bag empty.
    VError _ReadFromStream_v1(VStream* stream);

    // Appends the XML element of this bag named elementName: its attributes (but "<>", "____objectunic" and
    // "____property_name_in_jsarray") as XML attributes, its children as nested elements preceded by a line feed,
    // then "<>" as character data. withIndentation puts one tab per nesting level (at most 100) before each
    // nested element and before a closing tag that follows children. Names that are not XML names and trees too
    // deep are refused: VE_INVALID_PARAMETER raised and answered, out unchanged.
    VError DumpXML(VString& out, const VString& elementName, bool withIndentation) const;
    // DumpXML at level (-1: no indentation; 0 or more: the element's depth in tabs).
    VError _DumpXML(VString& out, const VString& name, int32 level) const;
    // True when text holds a unit of [setBegin, setEnd), or (also for an empty set) both a tab, line feed or
    // carriage return and a unit that is none of these nor a space.
    static bool NeedsEscapeSequence(const VString& text, const UniChar* setBegin, const UniChar* setEnd) noexcept;

    // Replaces json with the JSON text of this bag: an object of its attributes (values by their own JSON text,
    // null as null; "<>" as "__CDATA"; the JSON markers left out) and of its element names, each holding an
    // array of its bags, or the bag alone when it is the only one and options has bit 32 or the bag carries
    // "____objectunic"; a bag carrying "____FakeArrayElement" is that value alone. Options bit 8 indents with
    // line feeds and tabs. A tree too deep is refused (VE_INVALID_PARAMETER raised and answered, json empty).
    VError GetJSONString(VString& json, uint32 options = 0) const override;
    // Appends this bag's JSON text at the indentation level (pretty: indented); answers VE_OK or the refusal.
    VError _GetJSONString(VString& out, int32 level, bool pretty, uint32 options) const;
    // The JSON object of this bag's JSON text (GetJSONString with options 0) as the JSON parser reads it (dates
    // recognised), with a reference for the caller; null when the text is no object. outError receives the
    // writer's or the parser's error (VE_OK when the text parsed but is no object).
    VRefPtr<VJSONObject> BuildJSONObject(VError& outError) const;
    // The building blocks of the JSON text. Newline and tabs are written only when pretty; level counts tabs and is
    // raised by the openings and lowered by the closings.
    static void AppendJSONNewline(VString& out, bool pretty);
    static void AjustJSONTab(VString& out, int32 level, bool pretty);
    static void AppendBeginJSONObject(VString& out, int32& level, bool pretty);
    static void AppendEndJSONObject(VString& out, int32& level, bool pretty);
    static void AppendBeginJSONArray(VString& out, int32& level, bool pretty);
    static void AppendEndJSONArray(VString& out, int32& level, bool pretty);
    // The name as a JSON string on its own line when pretty ("<>" as "__CDATA"), then " : " (pretty) or ":".
    static void AppendJSONPropertyName(VString& out, const VString& name, int32 level, bool pretty);

    // ---- JSON model
    // Fills this bag from a JSON object as the JSON importer maps it: scalars become attributes (strings, booleans,
    // numbers as 64-bit integers when integral and exact, else reals, null as an empty string), "__CDATA" the
    // character data, an object a child marked "____objectunic", an array one child per item (a scalar item in a
    // child holding it under "____FakeArrayElement"; arrays inside arrays are skipped). An object held in several
    // places becomes a copy in each. Not an object: library error 2 (not raised). Refused before anything is
    // added: an object met again inside itself (library error 900, raised), nesting deeper than stored data may
    // reach (VE_INVALID_PARAMETER) and a tree of more than 2^24 bags (VE_MEMORY_FULL, raised).
    VError FromJSONValue(const VJSONValue& json) override;
    // The JSON object of this bag as the JSON writer forms it: attributes by their own JSON values (null values
    // as null) except the markers, "<>" as "__CDATA", a single child marked "____objectunic" (or any single child
    // with options bit 32) as an object, other lists as arrays, a "____FakeArrayElement" bag as its scalar.
    VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;
    // Adds to this bag what the JSON object text holds, read by VJSONImporter::JSONObjectToBag (times are read
    // from the marked "!!YYYY-MM-DD!!" texts with options bit 4096, else from "YYYY-MM-DD" texts). Answers its
    // error (550 after the raised details); the bag then keeps what was read before it.
    VError FromJSONString(const VString& text, uint32 options = 0) override;

private:
    using ElementDictionary = VPackedDictionary<VPackedValue_VBagArray>;

    // The element dictionary, made on first need (throws std::bad_alloc when it cannot be).
    ElementDictionary& _Elements();
    void _SetAttributes(const VValueBag& other);
    bool _Merge(const VValueBag& other, bool override);
    VError _ReadFromStreamMinimal(VStream* stream);
    VError _ReadFromStream_v1Parts(VStream* stream);
    // Writes the XML form (VValueBagXML.cpp).
    class _XMLWriter;

    VPackedDictionary_with_backstore<VPackedValue_VValueSingle> fAttributes;
    std::unique_ptr<ElementDictionary> fElements;
};

} // namespace vela
