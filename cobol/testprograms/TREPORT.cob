      * TREPORT: lists the menu file into a line sequential report and
      * sorts the entry texts into a second one (SORT with a work file):
      * both go to the run-time's own file handler, the menu file to the
      * store. The status value gets the number of lines sorted.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. TREPORT.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT MENU-FILE ASSIGN TO "FX01.DAT"
               ORGANIZATION IS INDEXED
               ACCESS MODE IS SEQUENTIAL
               RECORD KEY IS FX01-KEY
               FILE STATUS IS WS-ST.
           SELECT REPORT-FILE ASSIGN TO "REPORT.TXT"
               ORGANIZATION IS LINE SEQUENTIAL
               FILE STATUS IS WS-RST.
           SELECT SORTED-FILE ASSIGN TO "SORTED.TXT"
               ORGANIZATION IS LINE SEQUENTIAL.
           SELECT WORK-FILE ASSIGN TO "SORTWORK".
       DATA DIVISION.
       FILE SECTION.
       FD  MENU-FILE.
       COPY "FX01REC.cpy".
       FD  REPORT-FILE.
       01  REPORT-LINE             PIC X(40).
       FD  SORTED-FILE.
       01  SORTED-LINE             PIC X(40).
       SD  WORK-FILE.
       01  WORK-LINE               PIC X(40).
       WORKING-STORAGE SECTION.
       01  WS-ST                   PIC XX.
       01  WS-RST                  PIC XX.
       01  WS-LINES                PIC 9(6) VALUE 0.
       LINKAGE SECTION.
       COPY "PXCOMMON.cpy".
       PROCEDURE DIVISION USING PX-COMMON-AREA.
           OPEN INPUT MENU-FILE
           OPEN OUTPUT REPORT-FILE
           PERFORM UNTIL WS-ST NOT = "00"
               READ MENU-FILE
               IF WS-ST = "00"
                   MOVE FX01-TEXT TO REPORT-LINE
                   WRITE REPORT-LINE
                   ADD 1 TO WS-LINES
               END-IF
           END-PERFORM
           MOVE WS-ST TO CA-STATUS-TEXT
           CLOSE MENU-FILE REPORT-FILE
           SORT WORK-FILE ON ASCENDING KEY WORK-LINE
               USING REPORT-FILE GIVING SORTED-FILE
           MOVE WS-LINES TO CA-STATUS-VALUE
           MOVE WS-RST TO CA-STATUS-TEXT(3:2)
           GOBACK.
