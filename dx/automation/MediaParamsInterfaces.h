#pragma once

// The DirectX media-parameter interfaces as hosts call them, declared here rather than taken from
// the system headers:
//   - IMediaParams: mingw-w64's medparam.h lists its methods in alphabetical order (AddEnvelope,
//     FlushEnvelope, GetParam, ...), while hosts call the published slot order GetParam, SetParam,
//     AddEnvelope, FlushEnvelope, SetTimeFormat. A module built against that header would answer a
//     host's GetParam with AddEnvelope. Ours carries another C++ name so that the two can never
//     be mixed up; its identifier is the published IID_IMediaParams.
//   - the parameter-UI-callback interface (capture begin, changed, end) and the interface through
//     which a host hands over its own parameter-UI callback, which the system headers lack.
// IMediaParamInfo, MP_PARAMINFO and MP_ENVELOPE_SEGMENT come from medparam.h, whose layout and
// order are right, together with the identifiers the headers lack.

#include "dx/base/DirectShow.h"

#include <medparam.h>

#include "dx/server/Identifiers.h"

namespace pellucer::dx {

/// IID_IMediaParams as published.
inline constexpr GUID kIidMediaParams = {
    0x6d6cbb61, 0xa223, 0x44aa, {0x84, 0x2f, 0xa2, 0xf0, 0x67, 0x50, 0xbe, 0x6e}};
/// IID_IMediaParamInfo as published (the system's IID_IMediaParamInfo has the same value).
inline constexpr GUID kIidMediaParamInfo = {
    0x6d6cbb60, 0xa223, 0x44aa, {0x84, 0x2f, 0xa2, 0xf0, 0x67, 0x50, 0xbe, 0x6d}};

/// Time formats of envelope segments. Only reference time (100-ns units) is supported.
inline constexpr GUID kGuidTimeReference = {
    0x93ad712b, 0xdaa0, 0x4ffe, {0xbc, 0x81, 0xb0, 0xce, 0x50, 0x0f, 0xcd, 0xd9}};
inline constexpr GUID kGuidTimeMusic = {
    0x0574c49d, 0x5b04, 0x4b15, {0xa5, 0x42, 0xae, 0x28, 0x20, 0x30, 0x11, 0x7b}};
inline constexpr GUID kGuidTimeSamples = {
    0xa8593d05, 0x0c43, 0x4984, {0x9a, 0x63, 0x97, 0xaf, 0x9e, 0x02, 0xc4, 0xc0}};

/// DWORD_ALLPARAMS: AddEnvelope and FlushEnvelope for every parameter.
inline constexpr DWORD kAllParams = 0xffffffffu;
// MP_ENVELOPE_SEGMENT flags (stored with a segment, not interpreted).
inline constexpr DWORD kEnvelopeStandard = 0;        ///< MPF_ENVLP_STANDARD
inline constexpr DWORD kEnvelopeBeginCurrentVal = 1; ///< MPF_ENVLP_BEGIN_CURRENTVAL
inline constexpr DWORD kEnvelopeBeginNeutralVal = 2; ///< MPF_ENVLP_BEGIN_NEUTRALVAL
// Punch-in flags of the same interfaces' hosts.
inline constexpr DWORD kPunchInRefTime = 0; ///< MPF_PUNCHIN_REFTIME
inline constexpr DWORD kPunchInNow = 1;     ///< MPF_PUNCHIN_NOW
inline constexpr DWORD kPunchInStopped = 2; ///< MPF_PUNCHIN_STOPPED
// Values of MPT_BOOL parameters.
inline constexpr float kMpBoolTrue = 1.0f;  ///< MPBOOL_TRUE
inline constexpr float kMpBoolFalse = 0.0f; ///< MPBOOL_FALSE

static_assert(sizeof(MP_PARAMINFO) == 148);
static_assert(sizeof(MP_ENVELOPE_SEGMENT) == 32);

/// IMediaParams in its published slot order.
struct IMediaParamsPublished : public IUnknown {
    /// The parameter's present value in host units.
    virtual HRESULT STDMETHODCALLTYPE GetParam(DWORD paramIndex, MP_DATA* value) = 0;
    /// Sets a value now; the effect receives it with the next processed buffer.
    virtual HRESULT STDMETHODCALLTYPE SetParam(DWORD paramIndex, MP_DATA value) = 0;
    /// Hands over curved segments in reference time (paramIndex may be kAllParams).
    virtual HRESULT STDMETHODCALLTYPE AddEnvelope(DWORD paramIndex, DWORD segmentCount,
                                                  MP_ENVELOPE_SEGMENT* segments) = 0;
    /// Removes the segments over [start, end] (paramIndex may be kAllParams).
    virtual HRESULT STDMETHODCALLTYPE FlushEnvelope(DWORD paramIndex, REFERENCE_TIME start,
                                                    REFERENCE_TIME end) = 0;
    /// The time format of segments; only kGuidTimeReference is taken.
    virtual HRESULT STDMETHODCALLTYPE SetTimeFormat(GUID timeFormat, MP_TIMEDATA timeData) = 0;
};

/// The parameter-UI-callback interface (kIidParamsUICallback): a control gesture's begin, its
/// changed values and its end. The filter implements it (its effect's editor calls it through
/// the filter's host callback), and so does a host that records gestures as automation.
struct IMediaParamsUICallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ParamsBeginCapture(DWORD* indices, DWORD count) = 0;
    virtual HRESULT STDMETHODCALLTYPE ParamsChanged(DWORD* indices, DWORD count, MP_DATA* values) = 0;
    virtual HRESULT STDMETHODCALLTYPE ParamsEndCapture(DWORD* indices, DWORD count) = 0;
};

/// The set-UI-callback interface (kIidParamsSetUICallback): the host hands over its own
/// parameter-UI callback (or null to take it back).
struct IMediaParamsSetUICallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetParamsUICallback(IMediaParamsUICallback* callback) = 0;
};

} // namespace pellucer::dx
