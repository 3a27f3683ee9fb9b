#pragma once
// The styles of the multitrack page's checkable tool-bar and transport
// buttons, for the MultiTrackEditorPage*.cpp files.

namespace MultiTrackPageStyle {

inline const char* const ToolIdle =
    "background: #252538; color: #aaaacc; border: 1px solid #3a3a50; border-radius: 4px; "
    "font-size: 12px; padding: 2px 10px;";
inline const char* const ToolActive =
    "background: rgba(42,130,218,30); color: #ffffff; border: 1px solid #2a82da; "
    "border-radius: 4px; font-size: 12px; padding: 2px 10px;";
inline const char* const CastIdle =
    "background: rgba(42,130,218,15); color: #6ab0ff; border: 1px solid rgba(42,130,218,40); "
    "border-radius: 4px; font-size: 12px; padding: 2px 10px;";
inline const char* const CastActive =
    "background: rgba(42,130,218,40); color: #ffffff; border: 1px solid #2a82da; "
    "border-radius: 4px; font-size: 12px; padding: 2px 10px;";
inline const char* const MetronomeIdle =
    "background: #252538; color: #aaaacc; border: 1px solid #3a3a50; border-radius: 4px; "
    "font-size: 12px; padding: 2px 8px;";
inline const char* const MetronomeActive =
    "background: rgba(42,130,218,30); color: #ffffff; border: 1px solid #2a82da; "
    "border-radius: 4px; font-size: 12px; padding: 2px 8px;";

} // namespace MultiTrackPageStyle
