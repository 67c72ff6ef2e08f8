// The core toolkit's record of a coordinate transformation's error at one
// control point: how far the transformed point lies from its target along
// x, along y and in all. Stored in 32 bytes: 4 reserved (written 0, not
// read), the point's index as a 32-bit integer, then the three errors.
#pragma once

#include "platform/win/windef.h"

class CTransformError {
 public:
  CTransformError() = default;
  CTransformError(const CTransformError&) = default;
  CTransformError& operator=(const CTransformError&) = default;
  virtual ~CTransformError();

  bool operator==(const CTransformError& o) const {
    return m_nPoint == o.m_nPoint && m_dErrorX == o.m_dErrorX && m_dErrorY == o.m_dErrorY && m_dError == o.m_dError;
  }

  LONG m_nPoint = -1;  // control point index, -1 none
  double m_dErrorX = 0.0;
  double m_dErrorY = 0.0;
  double m_dError = 0.0;
};
