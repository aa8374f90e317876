"""The setup's own texts as a user must see them, character for character ("\n" is one line
feed): the one copy that the resource checks, the simulated Windows of the host tests and the
Wine tests compare with.

    python3 tests/expected_texts.py --cpp en OUT   the English table as C++ initialisers (the
                                                   simulated resource lookup includes them)
"""
import json
import os
import re
import sys

STRING_IDS = [12, 13] + list(range(15, 35)) + [36, 37, 57344]

LANGS = {            # file suffix -> LANGID
    "en": 0x0409,    # 1033
    "sl": 0x0424,    # 1060
    "it": 0x0410,    # 1040
    "sq": 0x041C,    # 1052
}

EN = {
    12: "Out of Memory",
    13: "Setup was unable to find the MSI package or patch '%1'.",
    15: "The required data with code %1!d! is missing.",
    16: "Please wait while '%1' is downloaded...",
    17: "the product",
    18: "Downloading package '%1' ...",
    19: "Verifying digital signature of '%1'...",
    20: "This installation requires package '%1'. Do you wish to install it now?\nIf you already installed '%1', you can choose 'No'.",
    21: "This version of Windows does not support digital signatures.",
    22: "Installation failed. '%1' is not trusted.",
    23: "The path '%1' is invalid.",
    24: "Setup was cancelled.",
    25: "'%1!d!' is an invalid MSI version. Be sure that it is numeric and is at least '%2!d!'.",
    26: "Admin priviledges are required for upgrading the Windows Installer.",
    27: "Downloading Windows Installer upgrade executable",
    28: "Setup was unable to find the InstMSI file '%1'.",
    29: "Setup was unable to upgrade the Windows Installer.",
    30: "You must restart your system for the configuration changes to take effect. Click Yes to restart now or No if you plan to manually restart later.",
    31: "The provided InstMSI upgrade executable '%1' is invalid.",
    32: "An error occured installing the package. Windows Installer returned '%1!d!'.",
    33: "This package requires a newer version of the Windows Installer. Do you want to update the version of the Windows Installer on your system?",
    34: "The setup was authored with an incorrect operation resource '%1' and cannot continue.",
    36: "The setup was unable to find appropriate install package for your operating system.",
    37: "Usage:\n   /? :  Show this dialog.\n   /a :  Prepare an administrative install.\n   /a <full path to existing administrative install> :  Prepare/Patch administrative install in given folder.\n   /v <full path to file> :  Verify signature on file.\n",
    57344: "Windows Installer Installation Wrapper",
}

IT = {
    12: "Memoria insufficiente",
    13: "Non trovo datoteca MSI '%1'.",
    15: "Non trovo dato con codice %1!d!.",
    16: "Prego attendere. Trasferisco datoteca '%1'...",
    17: "prodotto",
    18: "Trasferimento datoteca '%1' ...",
    19: "Verifica firma digitale '%1'...",
    20: "Questo tipo di installazione richiede il pacchetto di programmi '%1'. Vuoi installare questo pacchetto di programmi subito?\nSe il pacchetto di programmi '%1' è già installato, puoi scegliere 'No'.",
    21: "Questa versione del sistema operativo non permette la verifica di firme digitali.",
    22: "L'installazione non è riuscita. '%1' non è degno di fiducia.",
    23: "Percorso '%1' sbagliato.",
    24: "L'installazione è stata interrotta.",
    25: "'%1!d!' è MSI di versione errata. Verifica se il valore è numerico e di almeno '%2!d!'.",
    26: "Per l'upgrade del programma Windows Installer devi avere lo status di amministratore.",
    27: "Trasferimento del programma Windows Installer",
    28: "Setup non trova datoteca InstMSI '%1'.",
    29: "L'upgrade del programma Windows Installer non è riuscito.",
    30: "Per la continuazione devi riavviare il computer. Clicca »Si« per riavviarlo subito o »No«, se vuoi avviare il computer più tardi.",
    31: "La datoteca per l'upgrade del InstMSI '%1' è sbagliata.",
    32: "Nell'installazione del pacchetto è occorso un errore. Windows Installer ha restituito il codice '%1!d!'.",
    33: "Questo pacchetto richiede una versione più recente del programma Windows Installer. Vuoi eseguire l'upgrade del programma Windows Installer sul tuo computer?",
    34: "L'installazione ha eseguito un'operazione errata '%1' è non può continuare l'azione.",
    36: "La procedura di installazione non trova il pacchetto installer per il suo sistema operativo.",
    37: "Uso:\n   /? :  Mostra queste istruzioni.\n   /a :  Esegui installazione in modalità amministratore.\n   /a <percorso completo fino ad installazione in modalità amministratore> :  Prepara/Correggi l'installazione su modalità amministratore sul dato directory.\n   /v <percorso intero fino al file > :  Verifica firma file.\n",
    57344: "Avvio programma Windows Installer",
}

SQ = {
    12: "Nuk ka memorie",
    13: "Parametrizimi nuk ishte në gjendje të gjente paketën MSI ose korrigjimin '%1'.",
    15: "Të dhënat e kërkuara me kodin %1!d! mungojnë.",
    16: "Të lutem, prit derisa të shkarkohet '%1' ...",
    17: "produkti",
    18: "Duke shkarkuar paketën '%1' ...",
    19: "Verifikuar nënshkrimin digjital të '%1' ...",
    20: "Ky instalim kërkon paketën '%1'. A dëshiron ta instalosh tani?\nNëse tashmë e ke instaluar '%1, mund të zgjedhësh 'Jo'.",
    21: "Ky version i Windows-it nuk e mbështet nënshkrimin digjital.",
    22: "Instalimi dështoi. '%1' nuk është i besueshëm.",
    23: "Shtegu '%1' është i pavlefshëm.",
    24: "Parametrizimi u anulua.",
    25: "'%1!d!' është një version i pavlefshëm MSI. Sigurohu që të jetë numër dhe të paktën '%2!d!'.",
    26: "Kërkohen privilegjet e administratorit për të përmirësuar Windows Installer.",
    27: "Duke shkarkuar paketën e ekzekutueshme Windows Installer",
    28: "Parametrizimi nuk ishte në gjendje të gjente skedarin InstMSI '%1'.",
    29: "Parametrizimi nuk ishte në gjendje të përmirësonte Windows Installer-in.",
    30: "Duhet të rinisësh sistemin tënd që të kenë efekt ndryshimet e konfigurimit. Kliko Po për të rinisur tani ose Jo nëse planifikon ta rinisësh me dorë më vonë.",
    31: "Përmirësimi i siguruar InstMSI i ekzekutueshëm '%1' është i pavlefshëm.",
    32: "Ndodhi një gabim gjatë instalimit të paketës. Windows Installer ktheu '%1!d!'.",
    33: "Kjo paketë kërkon një version më të ri të Windows Installer. A dëshiron ta përditësosh versionin e Windows Installer në sistemin tënd?",
    34: "Parametrizimi u autorizua me një burim të pasaktë operacioni '%1' dhe nuk mund të vazhdojë.",
    36: "Parametrizimi nuk ishte në gjendje të gjente paketën e duhur të instalimit për sistemin tënd operativ.",
    37: "Përdorimi:\n   /? :  Shfaqe këtë dialog.\n   /a :  Përgatit një instalim administrativ.\n   /a <full path to existing administrative install> :  Përgatit/Korrigjo instalimin administrativ në dosjen e dhënë.\n   /v <full path to file> :  Verifiko nënshkrimin në skedar.\n",
    57344: "Paketa e instalimit të Windows Installer-it.",
}

# Slovenian texts that are fixed; the rest of the Slovenian table is free wording.
SL_FIXED = {
    13: "Namestitveni program ne najde paketa ali popravka MSI '%1'.",
    16: "Počakajte, da se '%1' prenese ...",
    32: "Pri nameščanju paketa je prišlo do napake. Windows Installer je vrnil '%1!d!'.",
    57344: "Namestitveni program za Windows Installer",
    37: "Uporaba:\n   /? :  Prikaže to okno.\n   /a :  Pripravi skrbniško namestitev.\n"
        "   /a <polna pot do obstoječe skrbniške namestitve> :  Pripravi/popravi skrbniško "
        "namestitev v podani mapi.\n   /v <polna pot do datoteke> :  Preveri podpis datoteke.\n",
}

# Dialog texts: language dialog caption, its OK, its Cancel, progress caption, its Cancel.
DIALOG_TEXTS = {
    "en": ("Choose setup language", "&OK", "Cancel", "Windows Installer Installation Wrapper", "Cancel"),
    "sl": ("Izberite jezik namestitve", "&V redu", "Prekliči", "Namestitveni program za Windows Installer", "Prekliči"),
    "it": ("Scegli la lingua del setup", "&OK", "Annula", "Avvio programma Windows Installer", "Annula"),
    "sq": ("Zgjidh gjuhën e instalimit", "&Në rregull", "Anulo", "Paketa e instalimit të Windows Installer-it.", "Anulo"),
}
FULL_TEXTS = {"en": EN, "it": IT, "sq": SQ}
KNOWN = {"en": EN, "it": IT, "sq": SQ, "sl": SL_FIXED}
APP_TITLE = 57344
IDS_USAGE = 37


def text(lang, sid):
    """A string of the setup's table in a language (German users get English)."""
    return KNOWN.get(lang, EN)[sid]


def as_format(lang, sid):
    """The string with its inserts as Python format fields: %1 and %2 become %s, %1!d! %d."""
    return re.sub(r"%[12](!d!)?", lambda m: "%d" if m.group(1) else "%s", text(lang, sid))


def title(lang):
    return text(lang, APP_TITLE)


def cpp_initialisers(table):
    # JSON's escapes of these texts (\n, \", \\ and \uXXXX below U+10000) are C++'s too.
    return "".join("{%d, u%s},\n" % (sid, json.dumps(t)) for sid, t in sorted(table.items()))


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] != "--cpp" or sys.argv[2] not in FULL_TEXTS:
        sys.exit("usage: expected_texts.py --cpp en|it|sq OUT")
    with open(sys.argv[3] + ".tmp", "w", encoding="ascii") as out:
        out.write(cpp_initialisers(FULL_TEXTS[sys.argv[2]]))
    os.replace(sys.argv[3] + ".tmp", sys.argv[3])
