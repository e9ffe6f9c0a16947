#pragma once
// Resource and control ids of the two programs.

namespace orvel {

inline constexpr int kUpdateDialogId = 102;
inline constexpr int kPasswordDialogId = 134;
inline constexpr int kAppIconId = 128;
inline constexpr int kOrvelLogoId = 133;
inline constexpr int kOrvelinLogoId = 136;

inline constexpr int kLogoWidth = 111;
inline constexpr int kLogoHeight = 28;
inline constexpr int kIconSize = 32;

// Controls of dialog 102.
inline constexpr int kIdCloseButton = 2;  // IDCANCEL
inline constexpr int kIdDriveList = 1000;
inline constexpr int kIdSourceList = 1001;
inline constexpr int kIdNextButton = 1003;
inline constexpr int kIdBackupCheck = 1004;
inline constexpr int kIdInfoText = 1006;
inline constexpr int kIdProgressBar = 1007;
inline constexpr int kIdDriveCaption = 1011;
inline constexpr int kIdSourceCaption = 1012;
inline constexpr int kIdInfoCaption = 1013;
inline constexpr int kIdProgressCaption = 1014;
inline constexpr int kIdEnglishRadio = 1015;
inline constexpr int kIdJapaneseRadio = 1016;
inline constexpr int kIdSourceDescription = 1018;
inline constexpr int kIdBackupFileName = 1019;
inline constexpr int kIdPassTypeCheck = 1020;
inline constexpr int kIdUpdateLoaderCheck = 1021;
inline constexpr int kIdBackButton = 1022;
inline constexpr int kIdTitleEdit = 1026;
inline constexpr int kIdLogoPicture = 1027;
inline constexpr int kIdMakerText = 1028;

// Control of dialog 134.
inline constexpr int kIdPasswordEdit = 1025;

}  // namespace orvel
