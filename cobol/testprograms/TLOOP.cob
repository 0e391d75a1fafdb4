      * TLOOP: opens the menu file, reads its first record into the status
      * text and returns; with "C" as second command-line word it closes the
      * file, otherwise it leaves it open for the unload to close.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. TLOOP.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT MENU-FILE ASSIGN TO "FX01.DAT"
               ORGANIZATION IS INDEXED
               ACCESS MODE IS DYNAMIC
               RECORD KEY IS FX01-KEY
               FILE STATUS IS WS-ST.
       DATA DIVISION.
       FILE SECTION.
       FD  MENU-FILE.
       COPY "FX01REC.cpy".
       WORKING-STORAGE SECTION.
       01  WS-ST                   PIC XX.
       01  WS-CALLS                PIC 9(6) VALUE 0.
       LINKAGE SECTION.
       COPY "PXCOMMON.cpy".
       PROCEDURE DIVISION USING PX-COMMON-AREA.
           ADD 1 TO WS-CALLS
           MOVE WS-CALLS TO CA-STATUS-VALUE
           OPEN INPUT MENU-FILE
           IF WS-ST NOT = "00"
               MOVE WS-ST TO CA-STATUS-TEXT
               MOVE 2 TO RETURN-CODE
               GOBACK
           END-IF
           READ MENU-FILE NEXT
           MOVE FX01-TEXT TO CA-STATUS-TEXT
           IF CA-SECOND-WORD(1:1) = "C"
               CLOSE MENU-FILE
           END-IF
           MOVE 0 TO RETURN-CODE
           GOBACK.
