// The settings table: section, key, kind, bounds, default and whether the save writes it.
// Included by Settings.h only.

namespace tarnvel::app {

template <class S, class F> void forEachSetting(S& s, F&& f)
{
    using K = SettingKind;
    constexpr bool y = true;
    constexpr bool n = false;
    const auto row = [](const char* section, const char* key, SettingKind kind, std::int64_t lo,
                        std::int64_t hi, std::int64_t def, bool saved, const char* text = "") {
        return SettingKey{section, key, kind, lo, hi, def, text, saved};
    };
    const auto integer = [&](const char* sec, const char* key, std::int64_t lo, std::int64_t hi,
                             std::int64_t def, bool saved = true) {
        return row(sec, key, K::Integer, lo, hi, def, saved);
    };
    const auto boolean = [&](const char* sec, const char* key, std::int64_t def,
                             bool saved = true) {
        return row(sec, key, K::Boolean, 0, 1, def, saved);
    };
    const auto text = [&](const char* sec, const char* key, bool saved = true,
                          const char* def = "") {
        return row(sec, key, K::Text, 0, 0, 0, saved, def);
    };
    const auto colour = [&](const char* key, std::uint32_t def) {
        return row("ColorSet", key, K::Colour, -2147483647, 2147483647,
                   static_cast<std::int32_t>(def), y);
    };

    f(integer("Window", "PosX", 0, 5000, 0), s.Window.PosX);
    f(integer("Window", "PosY", 0, 5000, 0), s.Window.PosY);
    f(integer("Window", "Width", kNoLower, kNoUpper, 0), s.Window.Width);
    f(integer("Window", "Height", kNoLower, kNoUpper, 0), s.Window.Height);
    f(text("Window", "Maximized"), s.Window.Maximized);
    f(text("Window", "Status"), s.Window.Status);

    f(integer("SetupDialog", "PosX", 0, 2000, 0), s.SetupDialog.PosX);
    f(integer("SetupDialog", "PosY", 0, 2000, 0), s.SetupDialog.PosY);
    f(integer("SetupDialog", "Width", 0, 2000, 0), s.SetupDialog.Width);
    f(integer("SetupDialog", "Height", 0, 2000, 0), s.SetupDialog.Height);
    f(text("SetupDialog", "Status"), s.SetupDialog.Status);

    f(row("File", "Dir", K::Directory, 0, 0, 0, y), s.Dir);
    f(row("File", "RecDir", K::Directory, 0, 0, 0, y), s.RecDir);

    f(boolean("Setting0", "ASPI", 1), s.ASPI);
    f(boolean("Setting0", "ForceASPI", 0, n), s.ForceASPI);
    f(integer("Setting0", "EnglishMode", 0, 2147483647, -1, n), s.EnglishMode);
    f(text("Setting0", "FileFontName", n), s.FileFontName);
    f(integer("Setting0", "FileFontCharset", -1, 255, -1, n), s.FileFontCharset);
    f(integer("Setting0", "FileFontSize", -1000, 1000, 0, n), s.FileFontSize);
    f(text("Setting0", "NameFontName", n), s.NameFontName);
    f(integer("Setting0", "NameFontCharset", -1, 255, -1, n), s.NameFontCharset);
    f(integer("Setting0", "NameFontSize", -1000, 1000, 0, n), s.NameFontSize);
    f(boolean("Setting0", "DatLog", 0, n), s.DatLog);
    f(integer("Setting0", "PlayBufFrames", 16, 64, 32, n), s.PlayBufFrames);
    f(integer("Setting0", "PlayThreadPriority", -2, 2, 2, n), s.PlayThreadPriority);
    f(integer("Setting0", "RecBufFrames", 16, 64, 64, n), s.RecBufFrames);
    f(integer("Setting0", "RecThreadPriority", -2, 2, 2, n), s.RecThreadPriority);

    f(integer("Setting1", "RecMuteTime", 1, 8, 4), s.RecMuteTime);
    f(boolean("Setting1", "EnableMem2Stop", 0), s.EnableMem2Stop);
    f(boolean("Setting1", "EnableAutoID", 1), s.EnableAutoID);
    f(integer("Setting1", "AutoID_Level", -80, -30, -42), s.AutoID_Level);
    f(integer("Setting1", "AutoID_Time", 1, 8, 2), s.AutoID_Time);
    f(integer("Setting1", "TapeLength", 0, 500, 60), s.TapeLength);
    f(text("Setting1", "TapeLengthPreset", y, "46,60,90,120,180"), s.TapeLengthPreset);

    f(boolean("Setting2", "EnableSkipPlay", 0), s.EnableSkipPlay);
    f(boolean("Setting2", "EnableDeEmphasis", 0), s.EnableDeEmphasis);
    f(integer("Setting2", "DitherType", 0, 2, 2), s.DitherType);
    f(boolean("Setting2", "EnableErrorMute", 1), s.EnableErrorMute);
    f(boolean("Setting2", "ResetErrorAtID", 1), s.ResetErrorAtID);
    f(boolean("Setting2", "WriteAbsTimeErrorFrameToFile", 0), s.WriteAbsTimeErrorFrameToFile);
    f(integer("Setting2", "ErrorStopCounter", -1, 1000000, 100), s.ErrorStopCounter);
    f(integer("Setting2", "AbsTimeErrorStopCounter", -1, 1000000, 100), s.AbsTimeErrorStopCounter);
    f(integer("Setting2", "RecSamplingFreq", 32000, 96000, 48000), s.RecSamplingFreq);
    f(integer("Setting2", "RecBitLen", 12, 24, 16), s.RecBitLen);
    f(row("Setting2", "RecEmphBits", K::SmallInteger, 0, 1, 0, y), s.RecEmphBits);
    f(row("Setting2", "RecCopyBits", K::SmallInteger, 0, 3, 0, y), s.RecCopyBits);
    f(boolean("Setting2", "CreateWaveFileOnRec", 0), s.CreateWaveFileOnRec);
    f(integer("Setting2", "ExtendedFormatMode", 0, 1, 0), s.ExtendedFormatMode);
    f(integer("Setting2", "ExtendedFormatBitLen", -32, 32, 24), s.ExtendedFormatBitLen);
    f(integer("Setting2", "PlayRecDriverType", 0, 2, 0), s.PlayRecDriverType);
    f(boolean("Setting2", "Use_WF_EXTENSIBLE", 0), s.Use_WF_EXTENSIBLE);
    f(boolean("Setting2", "Use_WF_DIRECT", 0, n), s.Use_WF_DIRECT);
    f(integer("Setting2", "PlayDeviceNum", 0, 20, 0), s.PlayDeviceNum);
    f(integer("Setting2", "RecDeviceNum", 0, 20, 0), s.RecDeviceNum);
    f(integer("Setting2", "ASIO_PlayChNum", 0, 32, 0), s.ASIO_PlayChNum);
    f(integer("Setting2", "ASIO_RecChNum", 0, 32, 0), s.ASIO_RecChNum);
    f(boolean("Setting2", "PlayWithFullVol", 0), s.PlayWithFullVol);
    f(boolean("Setting2", "RecAllowReduceBitLength", 1, n), s.RecAllowReduceBitLength);
    f(boolean("Setting2", "RecMonitorOn", 0, n), s.RecMonitorOn);
    f(integer("Setting2", "WaveXDispMagRate", 1, 20, 1), s.WaveXDispMagRate);
    f(integer("Setting2", "WaveYDispMagRate", 1, 20, 3), s.WaveYDispMagRate);
    f(integer("Setting2", "XY_DispType", 0, 1, 1), s.XY_DispType);
    f(boolean("Setting2", "LissajousBezier", 0), s.LissajousBezier);
    f(integer("Setting2", "WaveDrawType", 0, 5, 0), s.WaveDrawType);
    f(boolean("Setting2", "CountPgmTime", 0), s.CountPgmTime);
    f(boolean("Setting2", "CountRunTime", 0), s.CountRunTime);
    f(boolean("Setting2", "CountRealTime", 0), s.CountRealTime);
    f(boolean("Setting2", "DisplayDate", 0), s.DisplayDate);
    f(boolean("Setting2", "WriteDate", 0), s.WriteDate);
    f(boolean("Setting2", "OpeningWindow", 1), s.OpeningWindow);

    f(boolean("Setting3", "WriteToFileOnly", 0), s.WriteToFileOnly);
    f(boolean("Setting3", "EnableDivideFileAtID", 1), s.EnableDivideFileAtID);
    f(integer("Setting3", "PreReadIDsec10", 0, 5, 0), s.PreReadIDsec10);
    f(boolean("Setting3", "RecFromFileOnly", 0), s.RecFromFileOnly);
    f(boolean("Setting3", "RecAutoEndID", 0), s.RecAutoEndID);
    f(integer("Setting3", "DlgPreSilenceSec", 0, 30, 0), s.DlgPreSilenceSec);
    f(boolean("Setting3", "DlgLongPlayMode", 0), s.DlgLongPlayMode);
    f(boolean("Setting3", "DlgEmphasis", 0), s.DlgEmphasis);
    f(integer("Setting3", "DlgCopyBits", 0, 3, 0), s.DlgCopyBits);
    f(integer("Setting3", "DlgPostSilenceSec", 0, 30, 4), s.DlgPostSilenceSec);

    f(colour("PosMeterBackColor", 0x8000000Fu), s.PosMeterBackColor);
    f(colour("PosMeterV_ID_ModeBackColor", 0x00C0F0F0u), s.PosMeterV_ID_ModeBackColor);
    f(colour("PosMeterScaleColor", 0x000000FFu), s.PosMeterScaleColor);
    f(colour("PosMeterCharColor", 0x00000000u), s.PosMeterCharColor);
    f(colour("PosMeterCharBackColor", 0x0000FF00u), s.PosMeterCharBackColor);
    f(colour("PosMeterBarFrameColor", 0x00000000u), s.PosMeterBarFrameColor);
    f(colour("PosMeterBarForeColor", 0x00FF0000u), s.PosMeterBarForeColor);
    f(colour("PosMeterBarRecAreaColor", 0x00FFFF00u), s.PosMeterBarRecAreaColor);
    f(colour("PosMeterBarBackColor", 0x00FFFFFFu), s.PosMeterBarBackColor);
    f(colour("PosMeterBarEndIdColor", 0x000000FFu), s.PosMeterBarEndIdColor);
    f(colour("PosMeterSearchBoxColor", 0x00C0FFFFu), s.PosMeterSearchBoxColor);
    f(colour("PosMeterSearchBoxArrowColor", 0x00C0FFFFu), s.PosMeterSearchBoxArrowColor);
    f(colour("PosMeterV_ID_ModeSearchBoxArrowColor", 0x00808080u),
      s.PosMeterV_ID_ModeSearchBoxArrowColor);
    f(colour("WaveBackColor", 0x00000000u), s.WaveBackColor);
    f(colour("WaveDiagramBackColor", 0x00000000u), s.WaveDiagramBackColor);
    f(colour("WaveFrameColor", 0x002020D0u), s.WaveFrameColor);
    f(colour("WaveScaleColor", 0x00202080u), s.WaveScaleColor);
    f(colour("WaveLineColor", 0x0000FF00u), s.WaveLineColor);
    f(colour("WaveCharColor", 0x0040FF40u), s.WaveCharColor);
    f(colour("LevMeterFrameColor", 0x00008000u), s.LevMeterFrameColor);
    f(colour("LevMeterBackColor", 0x00000000u), s.LevMeterBackColor);
    f(colour("LevMeterScaleColor", 0x000000FFu), s.LevMeterScaleColor);
    f(colour("LevMeterScaleCharColor", 0x000000FFu), s.LevMeterScaleCharColor);
    f(colour("LevMeterBarFrameColor", 0x000000FFu), s.LevMeterBarFrameColor);
    f(colour("LevMeterBarForeColor", 0x0000FFFFu), s.LevMeterBarForeColor);
    f(colour("LevMeterBarBackColor", 0x00000000u), s.LevMeterBarBackColor);
    f(colour("LevMeterBarInnerColor", 0x0000C000u), s.LevMeterBarInnerColor);
    f(colour("LevMeterBarPeakColor", 0x000000FFu), s.LevMeterBarPeakColor);

    f(boolean("Linux", "SimulatedDrive", 1), s.SimulatedDrive);
    f(boolean("Linux", "SimRealTime", 0), s.SimRealTime);
    f(text("Linux", "SimCassettes"), s.SimCassettes);
    f(text("Linux", "SimCassetteDir"), s.SimCassetteDir);
    f(text("Linux", "MixerCommand", y, "pavucontrol"), s.MixerCommand);
}

} // namespace tarnvel::app
