// The registrar: applies registration scripts in ATL's text format to the
// registry (HKEY_CLASSES_ROOT only). A script looks like
//
//   HKCR
//   {
//     ZeltoCom.CZeltoCom = s 'CZeltoCom Class'
//     {
//       CLSID = s '{...}'
//     }
//     NoRemove CLSID
//     {
//       ForceRemove {...} = s 'CZeltoCom Class'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Apartment'
//         }
//       }
//     }
//   }
//
// Names are bare words or 'quoted' (a quote inside is doubled); a key may
// carry a default value (= s '...') and a { } block of subkeys and
// "val Name = s '...'" named values. ForceRemove deletes the key's tree
// before writing it; NoRemove keeps the key at unregistration; Delete removes
// the key at registration. %NAME% is replaced from the map given (%% is a
// percent sign); the caller doubles quotes in the replacement texts.
//
// Unregistration removes a ForceRemove key with everything below it; any
// other key loses the values and subkeys the script names and is removed
// when nothing else is left in it; NoRemove keys stay, but their named
// children go. Each call is one registry transaction: a parse error
// (E_INVALIDARG) or a registry failure changes nothing.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/com/registry.h"

struct RegistrarKey {
  enum class Flag { kNone, kForceRemove, kNoRemove, kDelete };
  std::string name;
  Flag flag = Flag::kNone;
  std::optional<std::string> default_value;
  std::vector<std::pair<std::string, std::string>> values;  // val entries, name and data
  std::vector<RegistrarKey> subkeys;
};

// Parses a script into the keys below HKEY_CLASSES_ROOT. E_INVALIDARG for
// malformed text, an unknown placeholder or a root other than HKCR.
HRESULT ParseRegistrarScript(std::string_view script,
                             const std::map<std::string, std::string>& replacements,
                             std::vector<RegistrarKey>* keys);

// The two directions on a tree already loaded (for callers that combine
// them with other changes in one RegistryUpdate).
void RegistrarApply(const std::vector<RegistrarKey>& keys, RegistryTree& tree);
void RegistrarRemove(const std::vector<RegistrarKey>& keys, RegistryTree& tree);

HRESULT RegistrarRegister(std::string_view script,
                          const std::map<std::string, std::string>& replacements);
HRESULT RegistrarUnregister(std::string_view script,
                            const std::map<std::string, std::string>& replacements);
