// The help box.
#include "entry.h"

#include <windows.h>

const wchar_t* help_text()
{
    // Switch and section headings at the start of a line, every other line
    // behind one tab, example continuation lines behind a tab and eight blanks.
    return L"-configdir <Pfad zur Konfigurationsordner>\n"
           L"\n"
           L"\tAngabe des Viewer Konfigurationsordners. Es wird die\n"
           L"\tKonfiguration des Corvane-Viewers genutzt. Kann nur\n"
           L"\tin Zusammenhang mit -setregistry oder -url genutzt werden.\n"
           L"\n"
           L"\tBeispiele:\n"
           L"\t\"C:\\Program Files\\Corvane-Pro\\Ostrilo.exe\"\n"
           L"\t        -setregistry\n"
           L"\t        -configdir \"H:\\Corvane-Pro\\Konfiguration\"\n"
           L"\t\"C:\\Program Files\\Corvane-Pro\\Ostrilo.exe\"\n"
           L"\t        -url \"https://www.example.com/\"\n"
           L"\t        -configdir \"H:\\Corvane-Pro\\Konfiguration\"\n"
           L"\n"
           L"-url <URL>\n"
           L"\n"
           L"\tURL wird zum Viewer weitergeleitet\n"
           L"\n"
           L"\tBeispiele:\n"
           L"\t\"C:\\Program Files\\Corvane-Pro\\Ostrilo.exe\"\n"
           L"\t        -url \"https://www.example.com/\"\n"
           L"\toder mit einem Config-Dir:\n"
           L"\t\"C:\\Program Files\\Corvane-Pro\\Ostrilo.exe\"\n"
           L"\t        -url \"https://www.example.com/\"\n"
           L"\t        -configdir \"H:\\Corvane-Pro\\Konfiguration\"\n"
           L"\n"
           L"-setregistry\n"
           L"\n"
           L"\tWindows-Registry-Werte werden erneut gesetzt, keine Angabe\n"
           L"\tvon Werten nötig.\n"
           L"\n"
           L"\t Beispiele:\n"
           L"\t\"C:\\Program Files\\Corvane-Pro\\Ostrilo.exe\"\n"
           L"\t        -setregistry\n"
           L"\n"
           L"-resetregistry\n"
           L"\n"
           L"\tWindows-Registry-Werte werden gelöscht, keine Angabe\n"
           L"\tvon Werten nötig.\n"
           L"\n"
           L"\t Beispiele:\n"
           L"\t\"C:\\Program Files\\Corvane-Pro\\Ostrilo.exe\"\n"
           L"\t        -resetregistry\n"
           L"\n"
           L"Protokollierung:\n"
           L"\n"
           L"\tUm Fehler zu beheben bzw. zu berichten, kann man wie folgt eine\n"
           L"\tLog-Datei erstellen:\n"
           L"\t\"<Pfad zu Ostrilo.exe>\\Ostrilo.exe\"\n"
           L"\t        -url \"<URL>\" -log\n"
           L"\t\n"
           L"\tBeispiele:\n"
           L"\t\"C:\\Program Files\\Corvane-Pro\\Ostrilo.exe\"\n"
           L"\t        -url \"https://www.example.com/\" -log\n"
           L"\toder mit einem Config-Dir:\n"
           L"\t\"C:\\Program Files\\Corvane-Pro\\Ostrilo.exe\"\n"
           L"\t        -url \"https://www.example.com/\"\n"
           L"\t        -configdir \"H:\\Corvane-Pro\\Konfiguration\"\n"
           L"\t        -log\n"
           L"\t\n"
           L"\tDie Log-Datei wird unter %temp%\\kvixtemp\\feldrun.log gespeichert.\n"
           L"\tNeue Inhalte werden immer dazugefügt.\n";
}

void show_help_box()
{
    MessageBoxW(nullptr, help_text(), L"Feldrun Hilfe", 0);
}
