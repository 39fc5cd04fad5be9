// The Quillon host's interfaces, as the plug-in and our host program call
// and implement them. The slot order of every interface matches the host's
// type library QuillonLib (quillon/QuillonLib.idl); a test under Wine checks
// each method's table offset against the type library.
#pragma once

#include "platform/automation.h"

// Library and interface identifiers.
inline constexpr GUID LIBID_QuillonLib = {0x5056E38D, 0x14BD, 0x40CD, {0x9E, 0xA5, 0xF0, 0xB1, 0xB9, 0xD1, 0x6A, 0xF9}};
inline constexpr IID IID_ITester = {0x5BD62C45, 0x47CF, 0x4E12, {0x87, 0xB4, 0xA4, 0xAB, 0x34, 0xCB, 0x04, 0x19}};
inline constexpr IID IID_ITester1 = {0xE05D6237, 0xE80F, 0x4A08, {0x9C, 0xAD, 0xEB, 0xA3, 0x7C, 0xF8, 0xC9, 0x51}};
inline constexpr IID IID_ITester2 = {0x5AD5CFD0, 0x6B6F, 0x49F2, {0x89, 0x25, 0x25, 0xE9, 0xA5, 0x32, 0x81, 0x08}};
inline constexpr IID IID_ITester3 = {0xE526DF09, 0x6709, 0x4166, {0x94, 0xDB, 0xAA, 0x0B, 0x24, 0x5B, 0x58, 0xB4}};
inline constexpr IID IID_ITesterCreator = {0xB1FB4E3E, 0xF9D9, 0x42A6, {0xBF, 0xA3, 0x47, 0x86, 0x2C, 0x37, 0xA0, 0x53}};
inline constexpr IID IID_ITesterCreator1 = {0x0D274AEE, 0xBCAF, 0x4FA2, {0x99, 0x85, 0x52, 0x86, 0xD5, 0x49, 0x9D, 0xEA}};
inline constexpr IID IID_ITesterHost = {0x6A1E0C52, 0x3B7D, 0x4F0E, {0x9A, 0x41, 0x2D, 0x5C, 0x8E, 0x17, 0xB3, 0x60}};
inline constexpr CLSID CLSID_ValueParser = {0x093575EC, 0x92C1, 0x4301, {0x8C, 0x81, 0x9F, 0xF3, 0x08, 0x52, 0xDA, 0xB2}};
inline constexpr IID IID_IValueParser = {0x9B3C4145, 0x52E7, 0x4F08, {0x88, 0xF4, 0xF5, 0xD6, 0xBD, 0x2C, 0x6A, 0xCF}};

// The type library's versions: the tester interfaces are typed from 1.0,
// the creator interfaces from 2.0.
inline constexpr WORD QuillonLibTesterMajor = 1;
inline constexpr WORD QuillonLibTesterMinor = 0;
inline constexpr WORD QuillonLibCreatorMajor = 2;
inline constexpr WORD QuillonLibCreatorMinor = 0;

// The host's log sink; the plug-in calls only Log.
struct ITesterHost : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Log(ULONG level, BSTR text) = 0;
};

struct ITester : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetActionCount(ULONG* count) = 0;                          // 7
    virtual HRESULT STDMETHODCALLTYPE GetActionName(ULONG index, BSTR* name) = 0;                // 8
    virtual HRESULT STDMETHODCALLTYPE ExecuteAction(ULONG index, SAFEARRAY* parameters,          // 9
                                                    SAFEARRAY** results, ULONG* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetActionInfo(ULONG index, BSTR* description,              // 10
                                                    SAFEARRAY** parameterLines, SAFEARRAY** resultLines) = 0;
    virtual HRESULT STDMETHODCALLTYPE New(SAFEARRAY* parameters, VARIANT_BOOL* ok) = 0;          // 11
    virtual HRESULT STDMETHODCALLTYPE Delete(VARIANT_BOOL* ok) = 0;                              // 12
    virtual HRESULT STDMETHODCALLTYPE Abort() = 0;                                               // 13
    virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* name) = 0;                                   // 14
    virtual HRESULT STDMETHODCALLTYPE GetStatus(BSTR* status) = 0;                               // 15
    virtual HRESULT STDMETHODCALLTYPE SetHost(ITesterHost* host) = 0;                            // 16
    virtual HRESULT STDMETHODCALLTYPE GetVersion(BSTR* version) = 0;                             // 17
    virtual HRESULT STDMETHODCALLTYPE SetScriptDirectory(BSTR directory) = 0;                    // 18
    virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) = 0;                     // 19
};

struct ITester1 : ITester {
    virtual HRESULT STDMETHODCALLTYPE GetNewActionInfo(BSTR* description, SAFEARRAY** parameterLines) = 0; // 20
};

struct ITester2 : ITester1 {
    virtual HRESULT STDMETHODCALLTYPE GetTesterFlags(ULONG* flags) = 0; // 21
};

struct ITester3 : ITester2 {
    virtual HRESULT STDMETHODCALLTYPE GetChildTester(ULONG index, ITester** tester) = 0; // 22
};

struct ITesterCreator : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetTesterCount(ULONG* count) = 0;           // 7
    virtual HRESULT STDMETHODCALLTYPE CreateTester(LONG index, ITester** tester) = 0; // 8
};

struct ITesterCreator1 : ITesterCreator {
    virtual HRESULT STDMETHODCALLTYPE GetCreatorVersion(BSTR* version) = 0; // 9
};

// The host's value parser: a text in, an array of values out. Slot 7 names
// the syntax the parser understands; slot 8 parses.
struct IValueParser : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetSyntax(BSTR* syntax) = 0;                 // 7
    virtual HRESULT STDMETHODCALLTYPE parse(BSTR text, SAFEARRAY** values) = 0;     // 8
};
