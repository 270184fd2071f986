// The texts the user must see in each of the program's nine languages (UTF-8),
// with the Unix locale under which Wine runs a process in that language.
#pragma once

#include <windows.h>

struct LanguageTexts {
  const char* name;
  const char* unixLocale;  // LANG of the wine process
  LANGID resourceLanguage;  // the language id the resources are stored under
  UINT ansiCodePage;
  const char* progressCaption;
  const char* progressCancel;
  const char* progressText;
  const char* permissionCaption;
  const char* permissionContinue;
  const char* permissionCancel;
  const char* permissionText;
  const char* strings[6];  // string table entries 1 to 6
};

inline const LanguageTexts kLanguages[] = {
    {"English", "en_US.UTF-8", 0x0409, 1252,
     "Setup", "Cancel", "Installation in progress. Please wait ...",
     "Permission Required", "Continue", "Cancel",
     "You'll need to provide administrator permission to install this application",
     {"Setup", "Installation failed.", "File: ", "Error: ", "Unknown", "Installation successfully complete."}},
    {"German", "de_DE.UTF-8", 0x0007, 1252,
     "Setup", "Abbrechen", "Installation gestartet. Bitte warten ...",
     "Erlaubnis erforderlich", "Fortsetzen", "Abbrechen",
     "Administrator Rechte sind erforderlich um diese Anwendung zu installieren",
     {"Setup", "Fehler bei der Installation", "Datei: ", "Fehler: ", "unbekannt", "Installation erfolgreich beendet."}},
    {"Spanish", "es_ES.UTF-8", 0x000A, 1252,
     "Configuración", "Cancelar", "Instalación en marcha. Por favor espera",
     "Permiso Requerido", "Continuar", "Cancelar",
     "Necesita privilegios de administracion para instalar esta aplicacion",
     {"Configuración", "Error de instalación.", "Archivo: ", "Error: ", "Desconocido", "Instalacion terminada con exito"}},
    {"French", "fr_FR.UTF-8", 0x000C, 1252,
     "Installation", "Annuler", "Installation en cours. Merci de patienter...",
     "Demande d'authorisation", "Continuer", "Annuler",
     "Les droits administrateur seront nécessaires pour installer cette application",
     {"Installation", "L'installation a échoué.", "Fichier : ", "Erreur : ", "Inconnu", "L'installation a réussi."}},
    {"ChineseTraditional", "zh_TW.UTF-8", 0x0404, 950,
     "設定", "取消", "正在安裝中. 請稍候 ...",
     "需要權限", "繼續", "取消",
     "你需要管理員的權限安裝這應用軟體",
     {"設定", "安裝失敗", "檔案: ", "錯誤：", "未知", "安裝成功完成。"}},
    {"ChineseSimplified", "zh_CN.UTF-8", 0x0804, 936,
     "设置", "取消", "安装正在进行，请等待...",
     "需要许可！", "继续", "取消",
     "你需要管理员的权限安装这个应用软件。",
     {"设置", "安装失败。", "文件: ", "错误：", "未知", "安装成功完成。"}},
    {"Japanese", "ja_JP.UTF-8", 0x0411, 932,
     "セットアップ", "キャンセル", "インストールを行っています。お待ちください ...",
     "管理者権限が必要です", "続行", "キャンセル",
     "このアプリケーションをインストールするには管理者権限が必要です。",
     {"セットアップ", "インストールに失敗しました", "ファイル: ", "エラー:", "不明", "インストールは、無事完了しました。"}},
    {"Korean", "ko_KR.UTF-8", 0x0412, 949,
     "설정", "취소", "설치 진행중, 잠시만 기다려 주세요",
     "권한이 필요합니다", "계속", "취소",
     "이 애플리케이션을 설치하려면 관리자 권한이 필요합니다",
     {"설정", "설치 실패.", "파일: ", "오류: ", "미확인", "설치가 성공적으로 끝났습니다"}},
    {"Russian", "ru_RU.UTF-8", 0x0419, 1251,
     "Установка", "Отменить", "Выполняется установка. Пожалуйста, ждите...",
     "Требуется разрешение", "Продолжить", "Отменить",
     "Для установки этого приложения требуется разрешение администратора",
     {"Установка", "Установка не удалась.", "Файл: ", "Ошибка: ", "Неизвестно", "Установка удачно завершена."}},
};
