// The plug-in property list (PiPL) in its Windows byte form.
#ifndef VANTREL_HOST_PIPL_H
#define VANTREL_HOST_PIPL_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantrel::host {

struct PiplProperty {
  std::string vendor;  // four characters as written, e.g. "8BIM"
  std::string key;     // e.g. "kind", "name", "eVER"
  uint32_t id = 0;
  std::vector<uint8_t> data;  // data bytes, data length as stored
  std::size_t offset = 0;     // byte offset of the property in the resource
};

struct Pipl {
  uint16_t version = 0;
  std::vector<PiplProperty> properties;

  const PiplProperty* Find(const std::string& key) const;
  // Typed views; throw HostError when absent or of the wrong size.
  std::string Kind() const;                                // "eFKT" for an effect
  std::string PascalString(const std::string& key) const;  // name, catg, eMNA
  std::string EntryPoint() const;                          // the "8664" property
  uint32_t U32(const std::string& key) const;
};

// Parses the resource bytes. Throws HostError naming the byte offset of the
// first inconsistency (truncated header or property, length past the end, ...).
Pipl ParsePipl(std::span<const uint8_t> bytes);

// Finds resource (type, id) in a PE image and returns its bytes (any
// language; `language` receives the one found). Throws HostError when the file
// is not a PE image or has no such resource.
std::vector<uint8_t> ReadPeResource(std::span<const uint8_t> image, const std::string& type,
                                    uint16_t id, uint16_t* language = nullptr);

}  // namespace vantrel::host

#endif  // VANTREL_HOST_PIPL_H
