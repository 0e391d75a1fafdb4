      * TUNIT: writes 100 permission records for the user in the common
      * area inside a unit (COMMIT first, so that changes gather), then
      * ends the unit as the second command-line word says: "C" COMMIT,
      * "R" ROLLBACK, "N" neither (CLOSE), "S" waits for a kill (after
      * writing READY.TXT). The status text gets the first bad status.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. TUNIT.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT PERM-FILE ASSIGN TO "FX02.DAT"
               ORGANIZATION IS INDEXED
               ACCESS MODE IS DYNAMIC
               RECORD KEY IS FX02-KEY
               FILE STATUS IS WS-ST.
           SELECT READY-FILE ASSIGN TO "READY.TXT"
               ORGANIZATION IS LINE SEQUENTIAL.
       DATA DIVISION.
       FILE SECTION.
       FD  PERM-FILE.
       COPY "FX02REC.cpy".
       FD  READY-FILE.
       01  READY-LINE              PIC X(8).
       WORKING-STORAGE SECTION.
       01  WS-ST                   PIC XX.
       01  WS-I                    PIC 9(4).
       01  WS-PROG.
           05  FILLER              PIC X VALUE "T".
           05  WS-PROG-N           PIC 999.
       LINKAGE SECTION.
       COPY "PXCOMMON.cpy".
       PROCEDURE DIVISION USING PX-COMMON-AREA.
           MOVE SPACES TO CA-STATUS-TEXT
           OPEN I-O PERM-FILE
           IF WS-ST NOT = "00"
               MOVE WS-ST TO CA-STATUS-TEXT
               GOBACK
           END-IF
           COMMIT
           PERFORM VARYING WS-I FROM 1 BY 1 UNTIL WS-I > 100
               MOVE SPACES TO FX02-RECORD
               MOVE CA-CLIENT TO FX02-CLIENT
               MOVE CA-USER-NAME TO FX02-USER-NAME
               MOVE WS-I TO WS-PROG-N
               MOVE WS-PROG TO FX02-PROGRAM
               MOVE "260101" TO FX02-GRANT-DATE
               MOVE "J" TO FX02-FLAG
               WRITE FX02-RECORD
               IF WS-ST NOT = "00" AND CA-STATUS-TEXT = SPACES
                   MOVE WS-ST TO CA-STATUS-TEXT
               END-IF
           END-PERFORM
           EVALUATE CA-SECOND-WORD(1:1)
               WHEN "C" COMMIT
               WHEN "R" ROLLBACK
               WHEN "S"
                   OPEN OUTPUT READY-FILE
                   MOVE "READY" TO READY-LINE
                   WRITE READY-LINE
                   CLOSE READY-FILE
                   CALL "C$SLEEP" USING 60
           END-EVALUATE
           CLOSE PERM-FILE
           GOBACK.
