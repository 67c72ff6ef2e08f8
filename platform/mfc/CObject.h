// Root of the MFC-shaped class tree. Only the serialization hook is kept, so
// containers deriving from it can be written to an archive later.
#pragma once

class CArchive;

class CObject {
 public:
  virtual ~CObject() {}
  // The base class has nothing to store.
  virtual void Serialize(CArchive&) {}
};
