#include "capture/media_subtype.h"

const char* subtypeName(const MediaSubtype& subtype) {
  for (const NamedSubtype& entry : SUBTYPE_PREFERENCE) {
    if (entry.subtype == subtype) return entry.name;
  }
  return "OTHER";
}
