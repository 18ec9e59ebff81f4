#include "ui/win32/DialogFont.h"

#include "ui/win32/DialogTemplate.h"
#include "platform/win32/WideText.h"

#include <windows.h>

#include <cstdlib>
#include <vector>

namespace varnis {

namespace {

// Faces that carry the simplified Chinese glyphs, those whose Latin letters
// are half-width first: the song face under its other names, then the
// monospaced and the proportional faces of Windows and of common font sets.
constexpr const wchar_t* kStandIns[] = {
    L"SimSun",
    L"NSimSun",
    L"新宋体",
    L"Noto Sans Mono CJK SC",
    L"SimHei",
    L"Microsoft YaHei",
    L"Microsoft YaHei UI",
    L"DengXian",
    L"Noto Sans CJK SC",
    L"WenQuanYi Zen Hei",
    L"WenQuanYi Micro Hei",
    L"Source Han Sans SC",
};

int CALLBACK NoteFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM lParam)
{
    *reinterpret_cast<bool*>(lParam) = true;
    return 0;
}

bool HasFace(HDC hdc, const std::wstring& face, BYTE nCharSet)
{
    LOGFONTW font{};
    font.lfCharSet = nCharSet;
    face.copy(font.lfFaceName, LF_FACESIZE - 1);
    bool bFound = false;
    EnumFontFamiliesExW(hdc, &font, NoteFace, reinterpret_cast<LPARAM>(&bFound), 0);
    return bFound;
}

int LatinWidth(HDC hdc, const std::wstring& face, int nHeight)
{
    HFONT hFont = CreateFontW(-nHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str());
    if (hFont == nullptr)
        return 0;
    wchar_t letters[95];
    for (int n = 0; n < 95; ++n)
        letters[n] = static_cast<wchar_t>(0x20 + n);
    HGDIOBJ hOld = SelectObject(hdc, hFont);
    SIZE extent{0, 0};
    const int nWidth = GetTextExtentPoint32W(hdc, letters, 95, &extent) ? extent.cx : 0;
    SelectObject(hdc, hOld);
    DeleteObject(hFont);
    return nWidth;
}

std::wstring MessageFontFace()
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return metrics.lfMessageFont.lfFaceName;
    return L"MS Shell Dlg";
}

}  // namespace

int ChooseStandIn(std::span<const FaceFacts> faces, int nHeight)
{
    const int nTarget = SongLatinWidth(nHeight);
    int nBest = -1;
    int nBestError = nTarget / 8;
    for (size_t n = 0; n < faces.size(); ++n) {
        const int nError = std::abs(faces[n].m_nLatinWidth - nTarget);
        if (faces[n].m_bHasCjk && faces[n].m_nLatinWidth > 0 && nError <= nBestError &&
            (nBest < 0 || nError < nBestError)) {
            nBest = static_cast<int>(n);
            nBestError = nError;
        }
    }
    return nBest;
}

DialogFont ResolveDialogFont(const char* pszFace, int nPoints)
{
    const DialogFont wanted{WideFromUtf8(pszFace), nPoints};
    HDC hdc = GetDC(nullptr);
    if (hdc == nullptr)
        return wanted;
    if (HasFace(hdc, wanted.m_strFace, DEFAULT_CHARSET)) {
        ReleaseDC(nullptr, hdc);
        return wanted;
    }
    const int nHeight = MulDiv(nPoints, GetDeviceCaps(hdc, LOGPIXELSY), 72);
    std::vector<FaceFacts> faces;
    for (const wchar_t* pszStandIn : kStandIns) {
        if (!HasFace(hdc, pszStandIn, GB2312_CHARSET))
            continue;
        faces.push_back(FaceFacts{pszStandIn, true, LatinWidth(hdc, pszStandIn, nHeight)});
        // The song face's own widths: no other face can do better.
        if (faces.back().m_nLatinWidth == SongLatinWidth(nHeight))
            break;
    }
    ReleaseDC(nullptr, hdc);
    const int nChosen = ChooseStandIn(faces, nHeight);
    return DialogFont{nChosen >= 0 ? faces[static_cast<size_t>(nChosen)].m_strFace : MessageFontFace(), nPoints};
}

}  // namespace varnis
