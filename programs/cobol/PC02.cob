      * PC02: stamps today's date into the signed-on user's permission
      * record for PC02 itself, under a record lock: read for update,
      * change the grant date, rewrite. A user without one (an
      * administrator needs none) gets it written. A record that another
      * workstation holds is left alone (status text "Satz gesperrt",
      * return code 1); any other file failure gives the status text
      * "FX02 " and the file status, and return code 9.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. PC02.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT PERM-FILE ASSIGN TO "FX02.DAT"
               ORGANIZATION IS INDEXED
               ACCESS MODE IS DYNAMIC
               RECORD KEY IS FX02-KEY
               FILE STATUS IS WS-ST.
       DATA DIVISION.
       FILE SECTION.
       FD  PERM-FILE.
       COPY "FX02REC.cpy".
       WORKING-STORAGE SECTION.
      * The second byte of a 9/nnn status is binary.
       01  WS-ST.
           05  WS-ST1              PIC X.
           05  WS-ST2              PIC X.
           05  WS-ST2-BIN REDEFINES WS-ST2 PIC X COMP-X.
       01  WS-TODAY                PIC 9(6).
       LINKAGE SECTION.
       COPY "PXCOMMON.cpy".
       PROCEDURE DIVISION USING PX-COMMON-AREA.
           ACCEPT WS-TODAY FROM DATE
           OPEN I-O PERM-FILE
           IF WS-ST NOT = "00"
               PERFORM FILE-FAILED
               GOBACK
           END-IF
           MOVE SPACES TO FX02-RECORD
           MOVE CA-CLIENT TO FX02-CLIENT
           MOVE CA-USER-NAME TO FX02-USER-NAME
           MOVE "PC02" TO FX02-PROGRAM
           READ PERM-FILE WITH LOCK
           EVALUATE TRUE
               WHEN WS-ST = "00"
                   MOVE WS-TODAY TO FX02-GRANT-DATE
                   REWRITE FX02-RECORD
               WHEN WS-ST = "23"
                   MOVE WS-TODAY TO FX02-GRANT-DATE
                   MOVE "1" TO FX02-LEVEL
                   MOVE "J" TO FX02-FLAG
                   MOVE "COBOL" TO FX02-TEXT
                   WRITE FX02-RECORD
           END-EVALUATE
           EVALUATE TRUE
               WHEN WS-ST = "00"
                   MOVE "Satz geschrieb." TO CA-STATUS-TEXT
                   MOVE 0 TO RETURN-CODE
               WHEN WS-ST1 = "9" AND (WS-ST2-BIN = 65 OR 68)
                   MOVE "Satz gesperrt" TO CA-STATUS-TEXT
                   MOVE 1 TO RETURN-CODE
               WHEN OTHER
                   PERFORM FILE-FAILED
           END-EVALUATE
           CLOSE PERM-FILE
           GOBACK.

       FILE-FAILED.
           MOVE "FX02 " TO CA-STATUS-TEXT
           MOVE WS-ST TO CA-STATUS-TEXT(6:2)
           MOVE 9 TO RETURN-CODE.
