// The engine's lookups in the component catalogue.
#include "engine/USmartUpdateEx.h"
#include "engine/component_catalogue.h"
#include "engine/signer_trust.h"
#include "foundation/m_folders.h"

bool USmartUpdateEx::CheckFileSignature(const char* path) {
  const CatalogueRow* row = FindCatalogueFile(SGetFileName(UString(path)).c_str());
  if (!row || row->signaturePolicy != kSignatureRequired) return true;
  return IsFileSignedByTrustedSigner(path);
}

UString USmartUpdateEx::GetComponentName(const char* classId) { return CatalogueComponentName(classId); }
